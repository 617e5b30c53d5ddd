#include "carrier/TapNetCall.h"

#include "tap/TapText.h"

CTapNetCall::CTapNetCall(PageCallRequest request)
    : m_request(std::move(request))
    , m_exchange(*this, *this)
    , m_link(m_request.address, *this, m_request.timeoutMs)
{
    m_exchange.SetMessageText(ToTapText(m_request.message));
    m_exchange.SetPassword(ToTapText(m_request.password));
}

std::optional<QString> CTapNetCall::Place(IPageCallOwner& owner)
{
    m_pOwner = &owner;
    return m_link.Open();
}

void CTapNetCall::SetPager(const QString& pagerId)
{
    m_exchange.SetPagerId(ToTapText(pagerId));
}

void CTapNetCall::Begin()
{
    m_exchange.SendWakeUp();
}

void CTapNetCall::SendPage()
{
    m_exchange.SendBlock();
}

void CTapNetCall::Finish()
{
    m_exchange.SendLogout();
}

void CTapNetCall::OnTick()
{
    m_exchange.OnTick();
}

QString CTapNetCall::TerminalLine() const
{
    return m_strLinkFault.isEmpty() ? m_exchange.TerminalLine() : m_strLinkFault;
}

void CTapNetCall::HangUp()
{
    m_pOwner = nullptr;
    m_link.HangUp();
}

void CTapNetCall::Close()
{
    m_pOwner = nullptr;
    m_link.Close();
}

void CTapNetCall::WriteText(const QByteArray& bytes)
{
    m_link.Write(bytes);
}

void CTapNetCall::OnTapAccepted()
{
    if (m_pOwner)
        m_pOwner->OnTapAccepted();
}

void CTapNetCall::OnTapRefused()
{
    if (m_pOwner)
        m_pOwner->OnTapRefused();
}

void CTapNetCall::OnTapEnded(bool acceptedFirst)
{
    if (m_pOwner)
        m_pOwner->OnTapEnded(acceptedFirst);
}

void CTapNetCall::OnTapTerminalLine(const QString& line)
{
    if (m_pOwner)
        m_pOwner->OnTapTerminalLine(line);
}

void CTapNetCall::OnLinkConnected()
{
    m_exchange.SetState(TapState::Connected);
    if (m_pOwner)
        m_pOwner->OnLineConnected(0);
}

void CTapNetCall::OnLinkData(const QByteArray& bytes)
{
    m_exchange.OnReceived(static_cast<std::int32_t>(bytes.size()), bytes.constData());
}

void CTapNetCall::OnLinkLost(const QString& reason, bool connected)
{
    if (!connected)
        m_strLinkFault = reason;
    TellLineLost(m_pOwner, reason, connected);
}
