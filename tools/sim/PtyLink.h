#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

class QSocketNotifier;

namespace quillpost::sim {

// The master side of a pseudo-terminal in raw mode. A pseudo-terminal has no
// DTR line, so the caller closing the slave stands for the hang-up: the master
// then reads EIO and polls POLLHUP until someone opens the slave again. While
// nobody has it open the link checks every few milliseconds instead of spinning
// on the hang-up condition.
class PtyLink : public QObject
{
    Q_OBJECT

public:
    explicit PtyLink(QObject* parent = nullptr);
    ~PtyLink() override;

    bool open(QString& error);
    QString slavePath() const { return m_slavePath; }
    bool callerPresent() const { return m_present; }

    // Bytes taken, 0 when the caller's input queue is full, -1 when nobody is
    // listening (what is written then would greet the next caller instead).
    qint64 write(QByteArrayView bytes);

signals:
    void received(const QByteArray& bytes);
    void callerArrived();
    void callerLeft();

private:
    void readAvailable();
    void checkForCaller();
    void callerHasGone();
    void makeRaw(int fd);
    void resetSlaveForNextCaller();

    int m_master = -1;
    QString m_slavePath;
    QSocketNotifier* m_notifier = nullptr;
    QTimer m_presenceTimer;
    bool m_present = false;
};

} // namespace quillpost::sim
