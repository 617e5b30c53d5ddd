#pragma once

#include "dispatch/SendSession.h"

#include <QDialog>
#include <memory>

class QLabel;

// Who opened a sending window and answers for what it changes.
class ISendingWindowOwner
{
public:
    virtual ~ISendingWindowOwner() = default;
    // The operator answered Yes to the question about switching sending off. It may
    // come after the window itself has gone, when the send ended during the question.
    virtual void DisableSending() = 0;
    // A recipient's outcome was written to the database.
    virtual void SendResultRecorded(std::int32_t messageId) = 0;
    // The send the scheduler numbered `sendNumber` has closed; the window goes once
    // control returns to the event loop. `lineFault` says why when it failed on this side
    // before any call was made.
    virtual void SendingWindowClosed(std::uint64_t sendNumber, const QString& lineFault) = 0;
};

// The small modeless "Sending Message" window that shows one send: its status line and
// a Cancel button. The send itself is the session's; the window starts it, shows its
// progress, asks before cancelling, and deletes itself once the send has closed. What
// the program around it must hear of it tells its owner.
class CSendingDlg final : public QDialog, private ISendHost
{
    Q_OBJECT

public:
    static inline const QString kDisableQuestion
        = QStringLiteral("Do you want to disable sending messages for the time being?");

    CSendingDlg(SendOrder order, CModemList& modems, ISendingWindowOwner& owner,
        SendTiming timing = {}, QWidget* parent = nullptr);
    ~CSendingDlg() override;

    // Starts the send; false when it closed at once. The caller shows the window.
    bool OnInitDialog();
    // The Cancel button, the Escape key and the close box: asks whether to switch
    // sending off, then ends the send if it is still running.
    void OnCancel();

    const CSendSession& Session() const { return *m_session; }
    bool IsSendClosed() const { return m_bSendClosed; }

protected:
    void reject() override;
    void closeEvent(QCloseEvent* event) override;

private:
    void ShowSendStatus(const QString& text) override;
    void SendResultRecorded() override;
    void SendClosed() override;
    void ShowTerminalLine(const QString& line) override;

    QLabel* m_pStatus = nullptr;
    QLabel* m_pTerminalLine = nullptr; // what the paging terminal said last
    ISendingWindowOwner& m_owner;
    std::uint64_t m_nSendNumber = 0;
    std::unique_ptr<CSendSession> m_session;
    bool m_bSendClosed = false;
};
