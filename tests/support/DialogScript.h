#pragma once

#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QList>
#include <QPointer>
#include <QTimer>
#include <functional>

// Plays one step on each showing of a modal dialog, in order, for as long as the
// object lives: the code under test runs the dialog (QDialog::exec) and waits on it,
// the step drives it as the operator would. A dialog its step left open, and every
// showing after the last step, is cancelled, so that no exec waits for good.
class DialogScript : public QObject
{
public:
    using Step = std::function<void(QDialog*)>;

    explicit DialogScript(QList<Step> steps = {})
        : m_steps(std::move(steps))
    {
        qApp->installEventFilter(this);
        m_poll.setInterval(5);
        QObject::connect(&m_poll, &QTimer::timeout, [this] { poll(); });
        m_poll.start();
    }

    // How many showings were seen so far.
    int played() const { return m_played; }

protected:
    // A dialog shown again straight after it closed is never seen hidden by a poll,
    // so showings are counted as they happen.
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Show && qobject_cast<QDialog*>(watched))
            m_shown = static_cast<QDialog*>(watched);
        return false;
    }

private:
    void poll()
    {
        if (!m_shown || m_shown != QApplication::activeModalWidget())
            return;
        const QPointer<QDialog> dlg = m_shown;
        m_shown = nullptr;
        if (m_played < m_steps.size())
            m_steps[m_played](dlg);
        ++m_played;
        if (dlg && dlg->isVisible())
            dlg->reject();
    }

    QList<Step> m_steps;
    QTimer m_poll;
    QPointer<QDialog> m_shown;
    int m_played = 0;
};
