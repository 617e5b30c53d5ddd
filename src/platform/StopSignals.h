#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM and SIGINT into a Qt signal on the thread's event loop, so that a
// program without a window can end its work cleanly instead of dying mid-call. Only
// one may exist at a time; the default handling returns when it goes.
class CStopSignals final : public QObject
{
    Q_OBJECT

public:
    explicit CStopSignals(QObject* parent = nullptr);
    ~CStopSignals() override;

signals:
    void StopRequested(int signalNumber);

private:
    void ReadSignal();

    QSocketNotifier* m_pNotifier = nullptr;
};
