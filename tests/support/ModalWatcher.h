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
        : m_kind(kind)
        , m_inspect(std::move(inspect))
        , m_deadline(timeoutMs)
    {
        m_poll.setInterval(5);
        QObject::connect(&m_poll, &QTimer::timeout, [this] { poll(); });
        m_poll.start();
    }

    bool seen() const { return m_seen; }

private:
    void poll()
    {
        QWidget* widget = m_kind == Kind::Popup ? QApplication::activePopupWidget()
                                                : QApplication::activeModalWidget();
        if (widget && widget->isVisible()) {
            m_poll.stop();
            m_seen = true;
            QPointer<QWidget> guard(widget);
            if (m_inspect)
                m_inspect(widget);
            if (guard && guard->isVisible())
                guard->close();
            return;
        }
        if (m_deadline.hasExpired())
            m_poll.stop();
    }

    Kind m_kind;
    std::function<void(QWidget*)> m_inspect;
    QDeadlineTimer m_deadline;
    QTimer m_poll;
    bool m_seen = false;
};
