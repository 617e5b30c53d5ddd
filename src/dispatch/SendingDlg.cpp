#include "dispatch/SendingDlg.h"

#include "platform/Prompt.h"
#include "ui/PlainText.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

CSendingDlg::CSendingDlg(SendOrder order, CModemList& modems, ISendingWindowOwner& owner,
    SendTiming timing, QWidget* parent)
    : QDialog(parent)
    , m_owner(owner)
    , m_nSendNumber(order.sendNumber)
    , m_session(std::make_unique<CSendSession>(
          std::move(order), modems, static_cast<ISendHost&>(*this), timing))
{
    setObjectName(QStringLiteral("sendingDialog"));
    setWindowTitle(QStringLiteral("Sending Message"));
    setModal(false);

    m_pStatus = NewPlainLabel(this, QStringLiteral("statusText"));
    m_pStatus->setAlignment(Qt::AlignCenter);
    m_pStatus->setMinimumWidth(260);
    m_pTerminalLine = NewPlainLabel(this, QStringLiteral("terminalLine"));
    m_pTerminalLine->setAlignment(Qt::AlignCenter);

    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    cancel->setAutoDefault(false);
    connect(cancel, &QPushButton::clicked, this, &CSendingDlg::OnCancel);

    auto* buttonRow = new QHBoxLayout;
    buttonRow->addStretch();
    buttonRow->addWidget(cancel);
    buttonRow->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addStretch();
    layout->addWidget(m_pStatus);
    layout->addWidget(m_pTerminalLine);
    layout->addSpacing(8);
    layout->addLayout(buttonRow);
    layout->addStretch();
}

CSendingDlg::~CSendingDlg() = default;

bool CSendingDlg::OnInitDialog()
{
    m_session->Start();
    return !m_bSendClosed;
}

void CSendingDlg::OnCancel()
{
    if (m_bSendClosed || m_session->IsClosing())
        return;
    // The question's event loop keeps the send going: it may end, and this window go,
    // before the operator answers.
    QPointer<CSendingDlg> alive(this);
    ISendingWindowOwner& owner = m_owner;
    if (Prompt::current().askYesNo(kDisableQuestion))
        owner.DisableSending();
    if (!alive || m_bSendClosed)
        return;
    m_session->Cancel();
}

void CSendingDlg::reject()
{
    OnCancel();
}

void CSendingDlg::closeEvent(QCloseEvent* event)
{
    if (m_bSendClosed) {
        QDialog::closeEvent(event);
        return;
    }
    event->ignore();
    OnCancel();
}

void CSendingDlg::ShowSendStatus(const QString& text)
{
    m_pStatus->setText(text);
    // Closing pauses the window thread; the line must be readable before that.
    if (isVisible())
        m_pStatus->repaint();
}

void CSendingDlg::ShowTerminalLine(const QString& line)
{
    m_pTerminalLine->setText(line);
    if (isVisible())
        m_pTerminalLine->repaint();
}

void CSendingDlg::SendResultRecorded()
{
    m_owner.SendResultRecorded(m_session->MessageId());
}

void CSendingDlg::SendClosed()
{
    m_bSendClosed = true;
    // Gone from the screen before the owner may say why in a message box of its own.
    hide();
    deleteLater();
    m_owner.SendingWindowClosed(m_nSendNumber, m_session->LocalFault());
}
