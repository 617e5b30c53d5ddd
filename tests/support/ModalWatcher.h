#pragma once

#include <QApplication>
#include <QDeadlineTimer>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <functional>

// Watches for the next modal dialog or popup menu while a test drives code that opens
// one and waits on it (QDialog::exec, QMenu::exec). The first one that shows is handed
// to `inspect`, then closed if it is still open, so the waiting call returns. Watching
// stops after the time-out; nothing waits on this object.
class ModalWatcher
{
public:
    enum class Kind
    {
        Dialog,
        Popup
    };

    ModalWatcher(Kind kind, std::function<void(QWidget*)> inspect, int timeoutMs = 5000)
    {
        m_poll.setInterval(5);
        QObject::connect(&m_poll, &QTimer::timeout,
            [this, kind, inspect = std::move(inspect), deadline = QDeadlineTimer(timeoutMs)] {
                QWidget* widget = kind == Kind::Popup ? QApplication::activePopupWidget()
                                                      : QApplication::activeModalWidget();
                if (widget && widget->isVisible()) {
                    m_poll.stop();
                    m_seen = true;
                    const QPointer<QWidget> guard(widget);
                    inspect(widget);
                    if (guard && guard->isVisible())
                        guard->close();
                } else if (deadline.hasExpired()) {
                    m_poll.stop();
                }
            });
        m_poll.start();
    }

    bool seen() const { return m_seen; }

private:
    QTimer m_poll;
    bool m_seen = false;
};
