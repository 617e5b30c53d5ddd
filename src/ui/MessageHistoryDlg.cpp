#include "ui/MessageHistoryDlg.h"

#include "data/SendHistory.h"
#include "platform/db/DaoException.h"
#include "ui/PlainText.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

QTableWidget* NewTable(QWidget* parent, const QString& objectName, const QStringList& headers)
{
    auto* table = new QTableWidget(0, int(headers.size()), parent);
    table->setObjectName(objectName);
    table->setHorizontalHeaderLabels(headers);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->verticalHeader()->hide();
    table->horizontalHeader()->setStretchLastSection(true);
    return table;
}

void SetRow(QTableWidget* table, int row, const QStringList& cells)
{
    for (int column = 0; column < cells.size(); ++column)
        table->setItem(row, column, new QTableWidgetItem(cells[column]));
}

} // namespace

CMessageHistoryDlg::CMessageHistoryDlg(
    const CQuillpostDoc& doc, std::int32_t messageId, QWidget* parent)
    : QDialog(parent)
    , m_doc(doc)
    , m_nMessageId(messageId)
{
    setObjectName(QStringLiteral("messageHistory"));
    setWindowTitle(QStringLiteral("Message History"));
    setAttribute(Qt::WA_DeleteOnClose);
    setModal(false);

    m_pProblem = NewPlainLabel(this, QStringLiteral("problemText"));
    m_pProblem->setWordWrap(true);
    m_pProblem->hide();
    m_pRecipients = NewTable(this, QStringLiteral("recipientTable"),
        { QStringLiteral("Recipient"), QStringLiteral("State") });
    m_pAttempts = NewTable(this, QStringLiteral("attemptTable"),
        { QStringLiteral("Time"), QStringLiteral("Recipient"), QStringLiteral("Pager ID"),
            QStringLiteral("Provider"), QStringLiteral("Outcome"),
            QStringLiteral("Terminal said") });

    auto* refresh = new QPushButton(QStringLiteral("&Refresh"), this);
    refresh->setObjectName(QStringLiteral("refreshButton"));
    refresh->setAutoDefault(false);
    connect(refresh, &QPushButton::clicked, this, &CMessageHistoryDlg::OnRefresh);
    auto* close = new QPushButton(QStringLiteral("Close"), this);
    close->setObjectName(QStringLiteral("closeButton"));
    connect(close, &QPushButton::clicked, this, &QDialog::close);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(refresh);
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_pProblem);
    layout->addWidget(new QLabel(QStringLiteral("Recipients"), this));
    layout->addWidget(m_pRecipients, 1);
    layout->addWidget(new QLabel(QStringLiteral("Attempts"), this));
    layout->addWidget(m_pAttempts, 2);
    layout->addLayout(buttons);
    resize(640, 420);
    OnRefresh();
}

void CMessageHistoryDlg::OnRefresh()
{
    m_pRecipients->setRowCount(0);
    m_pAttempts->setRowCount(0);
    m_pProblem->hide();
    try {
        FillRecipients();
        FillAttempts();
    } catch (const CDaoException& failure) {
        m_pProblem->setText(
            QStringLiteral("The history could not be read: %1").arg(failure.reason()));
        m_pProblem->show();
    }
}

void CMessageHistoryDlg::FillRecipients()
{
    const std::vector<RecipientState> states = ReadRecipientStates(m_nMessageId);
    m_pRecipients->setRowCount(int(states.size()));
    for (int row = 0; row < int(states.size()); ++row) {
        const RecipientState& state = states[std::size_t(row)];
        SetRow(m_pRecipients, row,
            { RecipientName(m_doc, state.recipient), DescribeRecipientState(state) });
    }
    m_pRecipients->resizeColumnToContents(0);
}

void CMessageHistoryDlg::FillAttempts()
{
    const std::vector<SendLogEntry> entries = ReadSendLog(m_nMessageId);
    m_pAttempts->setRowCount(int(entries.size()));
    for (int row = 0; row < int(entries.size()); ++row) {
        const SendLogEntry& entry = entries[std::size_t(row)];
        SetRow(m_pAttempts, row,
            { entry.time, RecipientName(m_doc, entry.recipient), entry.pagerId, entry.provider,
                OutcomeName(entry.outcome), entry.terminalLine });
    }
    m_pAttempts->resizeColumnsToContents();
}
