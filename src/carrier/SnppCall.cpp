#include "carrier/SnppCall.h"

#include "tap/TapText.h"

#include <cctype>

namespace {

// A reply too long to be one (no line end in this many bytes) is not waited out.
constexpr qsizetype kMaxReplyBytes = 1024;

// The reply's code, or -1 when the line does not start with three digits and a
// space (a continuation line "214-..." gives 0: it carries no verdict).
int ReplyCode(const QByteArray& line)
{
    if (line.size() < 3 || !std::isdigit(static_cast<unsigned char>(line[0]))
        || !std::isdigit(static_cast<unsigned char>(line[1]))
        || !std::isdigit(static_cast<unsigned char>(line[2])))
        return -1;
    if (line.size() > 3 && line[3] == '-')
        return 0;
    if (line.size() > 3 && line[3] != ' ')
        return -1;
    return line.left(3).toInt();
}

QString PrintableLine(const QByteArray& line)
{
    QString text;
    for (const char c : line.left(CSnppCall::kReplyLineLength))
        text += (c >= 0x20 && c <= 0x7E) ? QChar::fromLatin1(c) : QChar(u'?');
    return text;
}

} // namespace

CSnppCall::CSnppCall(PageCallRequest request)
    : m_request(std::move(request))
    , m_link(m_request.address, *this, m_request.timeoutMs)
{
}

std::optional<QString> CSnppCall::Place(IPageCallOwner& owner)
{
    m_pOwner = &owner;
    return m_link.Open();
}

void CSnppCall::SetPager(const QString& pagerId)
{
    m_pagerId = ToTapText(pagerId);
}

void CSnppCall::Begin()
{
    m_step = Step::Greeting;
}

void CSnppCall::SendPage()
{
    Command(Step::Pager, "PAGE " + m_pagerId);
}

void CSnppCall::Finish()
{
    Command(Step::Quit, "QUIT");
}

void CSnppCall::HangUp()
{
    m_pOwner = nullptr;
    m_link.HangUp();
}

void CSnppCall::Close()
{
    m_pOwner = nullptr;
    m_link.Close();
}

void CSnppCall::OnLinkConnected()
{
    if (m_pOwner)
        m_pOwner->OnLineConnected(0);
}

void CSnppCall::OnLinkData(const QByteArray& bytes)
{
    m_buffer += bytes;
    qsizetype end = 0;
    while (m_pOwner && (end = m_buffer.indexOf('\n')) >= 0) {
        QByteArray line = m_buffer.left(end);
        m_buffer.remove(0, end + 1);
        if (line.endsWith('\r'))
            line.chop(1);
        const int code = ReplyCode(line);
        const QString text = PrintableLine(line);
        m_pOwner->OnTapTerminalLine(text);
        if (code < 0)
            LoseLine(text);
        else if (code > 0 && m_pOwner)
            OnReply(code, text);
    }
    if (m_pOwner && m_buffer.size() > kMaxReplyBytes)
        LoseLine(PrintableLine(m_buffer));
}

void CSnppCall::OnLinkLost(const QString& reason, bool connected)
{
    if (!connected)
        m_strVerdictLine = reason;
    TellLineLost(m_pOwner, reason, connected);
}

void CSnppCall::Command(Step step, const QByteArray& line)
{
    m_step = step;
    m_link.Write(line + "\r\n");
}

void CSnppCall::OnReply(int code, const QString& line)
{
    if (m_step == Step::Idle || m_step == Step::Quit)
        return;
    if (code / 100 == 2) {
        if (m_step != Step::Reset)
            m_strVerdictLine = line;
        OnSuccess();
        return;
    }
    m_strVerdictLine = line;
    if (code / 100 != 5 || m_step == Step::Greeting || m_step == Step::Reset) {
        LoseLine(line);
        return;
    }
    if (m_step == Step::Login) {
        Command(Step::Quit, "QUIT");
        m_pOwner->OnTapRefused();
        return;
    }
    // The recipient is refused; the server may still hold the pager or text, so the
    // transaction is cleared before the owner hears of it and pages the next.
    Command(Step::Reset, "RESE");
}

void CSnppCall::OnSuccess()
{
    switch (m_step) {
    case Step::Greeting:
        if (!m_request.address.login.isEmpty()) {
            Command(Step::Login,
                "LOGI " + ToTapText(m_request.address.login)
                    + (m_request.password.isEmpty() ? QByteArray()
                                                    : " " + ToTapText(m_request.password)));
            return;
        }
        SendPage();
        return;
    case Step::Login:
        SendPage();
        return;
    case Step::Pager:
        Command(Step::Message, "MESS " + ToTapText(m_request.message));
        return;
    case Step::Message:
        Command(Step::Send, "SEND");
        return;
    case Step::Send:
        m_step = Step::Idle;
        m_pOwner->OnTapAccepted();
        return;
    case Step::Reset:
        m_step = Step::Idle;
        m_pOwner->OnPageRefused();
        return;
    case Step::Idle:
    case Step::Quit:
        return;
    }
}

void CSnppCall::LoseLine(const QString& line)
{
    m_strVerdictLine = line;
    IPageCallOwner* owner = m_pOwner;
    m_pOwner = nullptr;
    m_link.HangUp();
    owner->OnLineFailed(0, kLineFailedBusyOrDropped);
}
