#pragma once

#include <QDialog>
#include <cstdint>

class CQuillpostDoc;
class QLabel;
class QTableWidget;

// "Message History": how the delivery of one message stands. One table gives each
// recipient's state (waiting and due when, sent and when, failed for good, attempts
// so far), the other every attempt with what the paging terminal said to it. Both are
// read from the database when the window opens and on Refresh; the window is
// modeless and goes when closed.
class CMessageHistoryDlg final : public QDialog
{
    Q_OBJECT

public:
    // The document names the recipients; it must outlive the window.
    CMessageHistoryDlg(const CQuillpostDoc& doc, std::int32_t messageId, QWidget* parent = nullptr);

    std::int32_t MessageId() const { return m_nMessageId; }
    // Reads the message's rows and its attempts again. A database that cannot be read
    // leaves the tables empty and says why.
    void OnRefresh();

private:
    void FillRecipients();
    void FillAttempts();

    const CQuillpostDoc& m_doc;
    std::int32_t m_nMessageId = 0;
    QLabel* m_pProblem = nullptr;
    QTableWidget* m_pRecipients = nullptr;
    QTableWidget* m_pAttempts = nullptr;
};
