#include "carrier/WctpPageCall.h"

#include "carrier/WctpMessage.h"

namespace {

// Codes of a refused sender ID or security code: every page of the call would meet it.
bool IsSenderRefused(int code)
{
    return code == 401 || code == 402;
}

} // namespace

CWctpPageCall::CWctpPageCall(PageCallRequest request)
    : m_request(std::move(request))
{
}

CWctpPageCall::~CWctpPageCall()
{
    HangUp();
}

std::optional<QString> CWctpPageCall::Place(IPageCallOwner& owner)
{
    m_pOwner = &owner;
    if (std::optional<QString> fault = OpenLink()) {
        m_strLocalFault = *fault;
        m_pOwner = nullptr;
        return fault;
    }
    return std::nullopt;
}

std::optional<QString> CWctpPageCall::OpenLink()
{
    ICarrierLinkOwner& owner = *this;
    m_pLink = std::make_unique<CCarrierLink>(m_request.address, owner, m_request.timeoutMs);
    m_bLinkUp = false;
    return m_pLink->Open();
}

void CWctpPageCall::SetPager(const QString& pagerId)
{
    m_strPager = pagerId;
}

void CWctpPageCall::Begin()
{
    SendPage();
}

void CWctpPageCall::SendPage()
{
    if (!m_pOwner)
        return;
    const WctpSubmission submission { m_request.address.login, m_request.password,
        MakeWctpMessageId(m_request.messageId, m_strPager), m_strPager, m_request.message,
        QDateTime::currentDateTimeUtc() };
    m_pending
        = HttpPostRequest(m_request.address.host, m_request.address.port, m_request.address.tls,
            m_request.address.path, "text/xml; charset=utf-8", WctpSubmitRequestBody(submission));
    m_reader = {};
    if (m_bLinkUp) {
        OnLinkConnected();
        return;
    }
    // The gateway closed the connection after the last answer: a new one for this page.
    if (!m_pLink)
        if (const std::optional<QString> fault = OpenLink())
            LoseLine(*fault);
}

void CWctpPageCall::OnLinkConnected()
{
    m_bLinkUp = true;
    if (!m_bCallConnected) {
        m_bCallConnected = true;
        if (m_pOwner)
            m_pOwner->OnLineConnected(0);
        return;
    }
    if (m_pending.isEmpty())
        return;
    m_pLink->Write(m_pending);
    m_pending.clear();
    m_bAwaiting = true;
}

void CWctpPageCall::OnLinkData(const QByteArray& bytes)
{
    if (!m_bAwaiting)
        return;
    switch (m_reader.Feed(bytes)) {
    case CHttpResponseReader::State::Complete:
        Answered();
        break;
    case CHttpResponseReader::State::Bad:
        m_bAwaiting = false;
        DropLink();
        LoseLine(QStringLiteral("The gateway's answer is not HTTP"));
        break;
    case CHttpResponseReader::State::Incomplete:
        break;
    }
}

void CWctpPageCall::OnLinkLost(const QString& reason, bool)
{
    DropLink();
    if (m_bAwaiting && m_reader.Closed() == CHttpResponseReader::State::Complete) {
        Answered();
        return;
    }
    // Lost between two pages, with nothing asked, it is only reopened for the next.
    if (m_bAwaiting || !m_bCallConnected || !m_pending.isEmpty()) {
        m_bAwaiting = false;
        LoseLine(reason);
    }
}

void CWctpPageCall::DropLink()
{
    m_bLinkUp = false;
    if (!m_pLink)
        return;
    m_pLink->HangUp();
    m_pLink.release()->deleteLater();
}

void CWctpPageCall::Answered()
{
    m_bAwaiting = false;
    if (m_reader.ClosesConnection())
        DropLink();
    const int status = m_reader.Status();
    if (status < 200 || status > 299)
        LoseLine(QStringLiteral("HTTP %1 %2").arg(status).arg(m_reader.Reason()).trimmed());
    else
        Judge(ParseWctpReply(m_reader.Body()));
}

void CWctpPageCall::Judge(const WctpReply& reply)
{
    if (!m_pOwner)
        return;
    const int code = reply.code;
    if (reply.kind == WctpReply::Kind::Success && code >= 200 && code < 300) {
        Tell(reply.Line());
        m_pOwner->OnTapAccepted();
    } else if (reply.kind == WctpReply::Kind::Failure && IsSenderRefused(code)) {
        Tell(reply.Line());
        m_pOwner->OnTapRefused();
    } else if (reply.kind == WctpReply::Kind::Failure && code >= 300 && code < 600) {
        Tell(reply.Line());
        m_pOwner->OnPageRefused();
    } else {
        LoseLine(reply.kind == WctpReply::Kind::Unreadable
                ? QStringLiteral("The gateway's reply is not a WCTP confirmation")
                : reply.Line());
    }
}

void CWctpPageCall::LoseLine(const QString& reason)
{
    if (!m_pOwner)
        return;
    Tell(reason);
    m_pOwner->OnLineFailed(0, kLineFailedBusyOrDropped);
}

void CWctpPageCall::Tell(const QString& line)
{
    m_strTerminalLine = line;
    m_pOwner->OnTapTerminalLine(line);
}

void CWctpPageCall::HangUp()
{
    m_pOwner = nullptr;
    m_bAwaiting = false;
    DropLink();
}

void CWctpPageCall::Close()
{
    HangUp();
}
