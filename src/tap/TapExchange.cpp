#include "tap/TapExchange.h"

#include "tap/TapBlock.h"
#include "tap/TapLog.h"

#include <QThread>
#include <algorithm>
#include <cctype>
#include <cstring>

namespace {

bool EndsALine(std::string_view chunk)
{
    return chunk.find_first_of("\r\n=") != std::string_view::npos;
}

bool Holds(std::string_view line, const QByteArray& pattern)
{
    return line.find(std::string_view(pattern.constData(), pattern.size()))
        != std::string_view::npos;
}

bool IsPrintable(char byte)
{
    return byte >= 0x20 && byte <= 0x7E;
}

// A message-sequence line: three digits, then the end or a space and its text.
bool IsSequenceLine(std::string_view piece)
{
    return piece.size() >= 3 && std::isdigit(static_cast<unsigned char>(piece[0]))
        && std::isdigit(static_cast<unsigned char>(piece[1]))
        && std::isdigit(static_cast<unsigned char>(piece[2]))
        && (piece.size() == 3 || piece[3] == ' ');
}

// The last complete message-sequence line of the received bytes, printable characters
// only and cut to its longest; empty when there is none.
QString LastSequenceLine(std::string_view line)
{
    const std::size_t end = line.find_last_of("\r\n");
    if (end == std::string_view::npos)
        return QString();
    std::string_view complete = line.substr(0, end);
    while (true) {
        const std::size_t start = complete.find_last_of("\r\n");
        const std::string_view piece
            = start == std::string_view::npos ? complete : complete.substr(start + 1);
        if (IsSequenceLine(piece)) {
            QString text;
            for (const char byte : piece) {
                if (IsPrintable(byte) && text.size() < kTapTerminalLineLength)
                    text += QLatin1Char(byte);
            }
            return text.trimmed();
        }
        if (start == std::string_view::npos)
            return QString();
        complete = complete.substr(0, start);
    }
}

// The start of a message-sequence line whose end has not arrived yet: a digit first,
// then printable characters only, so it cannot hold any pattern the exchange acts on.
bool IsUnfinishedSequenceLine(std::string_view tail)
{
    return !tail.empty() && tail.size() < static_cast<std::size_t>(kTapTerminalLineLength)
        && std::isdigit(static_cast<unsigned char>(tail.front()))
        && std::all_of(
            tail.begin(), tail.end(), [](char byte) { return IsPrintable(byte) && byte != '='; });
}

} // namespace

void ITapLine::Pause(int milliseconds)
{
    QThread::msleep(static_cast<unsigned long>(std::max(milliseconds, 0)));
}

CTapExchange::CTapExchange(ITapLine& line, ITapOwner& owner)
    : m_line(line)
    , m_owner(owner)
{
}

TapState CTapExchange::State() const
{
    return m_nState;
}

void CTapExchange::SetState(TapState state)
{
    m_nState = state;
}

void CTapExchange::SetPagerId(const QByteArray& pagerId)
{
    m_strPagerId = pagerId;
}

void CTapExchange::SetMessageText(const QByteArray& text)
{
    m_strMessageText = text;
}

void CTapExchange::SetPassword(const QByteArray& password)
{
    m_strPassword = password;
}

void CTapExchange::SendWakeUp()
{
    // The state is settled before the write, so a reply that arrives while the write is
    // still in progress is already read in the right state.
    m_nState = TapState::Waking;
    m_nTickCount = 0;
    Write(TapWakeUpSequence());
}

void CTapExchange::OnTick()
{
    if (m_nState != TapState::Waking)
        return;
    if (++m_nTickCount > kTicksBetweenWakeUps)
        SendWakeUp();
}

void CTapExchange::OnReceived(std::int32_t count, const char* bytes)
{
    if (count < 1 || bytes == nullptr)
        return;
    qCDebug(lcTap) << "Received" << QByteArray(bytes, count);
    const std::string_view chunk(bytes, static_cast<std::size_t>(count));
    AppendToLine(chunk);
    // Without a line end the bytes wait for the next chunk. "=" counts as one so that
    // the "ID=" prompt, which has no line end, is acted on at once.
    if (!EndsALine(chunk))
        return;
    if (m_nState == TapState::Ended)
        return;
    const Reaction reaction = ChooseReaction();
    TakeTerminalLine();
    // The line is emptied (but for an unfinished prompt or go-ahead) before anything is
    // written or reported: the owner may send, change the state or even end the
    // exchange from inside a notification.
    KeepOnlyUnfinishedPattern();
    CarryOut(reaction);
}

void CTapExchange::Write(const QByteArray& bytes)
{
    // The log-on carries the provider's password, which stays out of the log.
    qCDebug(lcTap) << "Writing"
                   << (bytes.startsWith(TapLoginSequence().chopped(1)) ? QByteArray("the log-on")
                                                                       : bytes);
    m_line.WriteText(bytes);
}

void CTapExchange::SendBlock()
{
    m_bVerdictGiven = false;
    m_strTerminalLine.clear();
    Write(FormatBlock(m_strPagerId, m_strMessageText));
}

void CTapExchange::SendLogout()
{
    Write(TapLogoutSequence());
    m_line.Pause(100);
}

void CTapExchange::AppendToLine(std::string_view chunk)
{
    // A run without a line end longer than the buffer keeps its newest bytes.
    if (chunk.size() >= m_lineBuffer.size()) {
        chunk.remove_prefix(chunk.size() - m_lineBuffer.size());
        std::memcpy(m_lineBuffer.data(), chunk.data(), chunk.size());
        m_nLineFill = static_cast<std::int32_t>(chunk.size());
        return;
    }
    const std::size_t fill = static_cast<std::size_t>(m_nLineFill);
    const std::size_t overflow
        = fill + chunk.size() > m_lineBuffer.size() ? fill + chunk.size() - m_lineBuffer.size() : 0;
    if (overflow > 0)
        std::memmove(m_lineBuffer.data(), m_lineBuffer.data() + overflow, fill - overflow);
    std::memcpy(m_lineBuffer.data() + fill - overflow, chunk.data(), chunk.size());
    m_nLineFill = static_cast<std::int32_t>(fill - overflow + chunk.size());
}

void CTapExchange::KeepOnlyUnfinishedPattern()
{
    // A slow line delivers a few bytes per read, so a read may end just after a line
    // end with the first bytes of the next prompt or go-ahead ("...CR ESC", then
    // "[p CR"). Those bytes were not part of any pattern just found; dropping them would
    // lose the go-ahead for good, so they stay for the next parse. ACK and NAK are single
    // bytes and are never carried over.
    const std::string_view line(m_lineBuffer.data(), static_cast<std::size_t>(m_nLineFill));
    std::size_t keep = 0;
    for (const QByteArray& pattern : { TapIdPromptPattern(), TapGoAheadPattern() }) {
        const std::string_view whole(pattern.constData(), static_cast<std::size_t>(pattern.size()));
        for (std::size_t length = whole.size() - 1; length > keep; --length) {
            if (line.ends_with(whole.substr(0, length))) {
                keep = length;
                break;
            }
        }
    }
    // So does the start of a message-sequence line cut off by the end of the read.
    const std::size_t lineEnd = line.find_last_of("\r\n");
    const std::string_view tail
        = lineEnd == std::string_view::npos ? line : line.substr(lineEnd + 1);
    if (IsUnfinishedSequenceLine(tail))
        keep = std::max(keep, tail.size());
    std::memmove(m_lineBuffer.data(), m_lineBuffer.data() + line.size() - keep, keep);
    m_nLineFill = static_cast<std::int32_t>(keep);
}

std::string_view CTapExchange::SearchableLine() const
{
    // The whole line is searched: a zero byte (line noise) must not hide an ACK after it.
    return std::string_view(m_lineBuffer.data(), static_cast<std::size_t>(m_nLineFill));
}

void CTapExchange::TakeTerminalLine()
{
    const QString said = LastSequenceLine(SearchableLine());
    if (said.isEmpty())
        return;
    m_strTerminalLine = said;
    m_owner.OnTapTerminalLine(said);
}

CTapExchange::Reaction CTapExchange::ChooseBlockVerdict(std::string_view line) const
{
    const bool ends = Holds(line, TapEndOfCallPattern());
    if (m_bVerdictGiven)
        return ends ? Reaction::EndCall : Reaction::None;
    if (Holds(line, TapAckPattern()))
        return ends ? Reaction::AcceptThenEndCall : Reaction::ReportAccepted;
    if (ends)
        return Reaction::EndCall;
    return Holds(line, TapRsPattern()) || Holds(line, TapNakPattern()) ? Reaction::RefuseBlock
                                                                       : Reaction::None;
}

CTapExchange::Reaction CTapExchange::ChooseReaction() const
{
    const std::string_view line = SearchableLine();
    // Once the exchange has begun, ESC EOT ends the call whatever was going on: a
    // refused log-on, an idle time-out, a limit of pages per call. Before it begins
    // nothing is looked for; the line's own end tells the owner.
    const bool begun = m_nState != TapState::Dialling && m_nState != TapState::Connected;
    if (begun && m_nState != TapState::BlockSent && Holds(line, TapEndOfCallPattern()))
        return Reaction::EndCall;
    switch (m_nState) {
    case TapState::Waking:
        return Holds(line, TapIdPromptPattern()) ? Reaction::SendLogin : Reaction::None;
    case TapState::LoginSent:
        if (Holds(line, TapAckPattern()))
            return Holds(line, TapGoAheadPattern()) ? Reaction::SendFirstBlock
                                                    : Reaction::AwaitGoAhead;
        if (Holds(line, TapNakPattern()))
            return Reaction::SendLogin;
        return Holds(line, TapGoAheadPattern()) ? Reaction::SendFirstBlock : Reaction::None;
    case TapState::AwaitGoAhead:
        return Holds(line, TapGoAheadPattern()) ? Reaction::SendFirstBlock : Reaction::None;
    case TapState::BlockSent:
        return ChooseBlockVerdict(line);
    case TapState::Dialling:
    case TapState::Connected:
    case TapState::Ended:
        break;
    }
    return Reaction::None;
}

void CTapExchange::CarryOut(Reaction reaction)
{
    // Each branch ends with its write or notification and touches nothing afterwards.
    switch (reaction) {
    case Reaction::None:
        return;
    case Reaction::SendLogin:
        m_nState = TapState::LoginSent;
        Write(TapLoginSequence(m_strPassword));
        return;
    case Reaction::AwaitGoAhead:
        m_nState = TapState::AwaitGoAhead;
        return;
    case Reaction::SendFirstBlock:
        m_nState = TapState::BlockSent;
        SendBlock();
        return;
    case Reaction::ReportAccepted:
        qCDebug(lcTap, "The terminal accepted the block");
        m_bVerdictGiven = true;
        m_owner.OnTapAccepted();
        return;
    case Reaction::RefuseBlock:
        qCDebug(lcTap, "The terminal refused the block");
        m_bVerdictGiven = true;
        SendLogout();
        m_owner.OnTapRefused();
        return;
    case Reaction::EndCall:
    case Reaction::AcceptThenEndCall:
        // The terminal has hung up: nothing is written to it any more.
        qCDebug(lcTap, "The terminal ended the call%s",
            reaction == Reaction::AcceptThenEndCall ? " after accepting the block" : "");
        m_bVerdictGiven = true;
        m_nState = TapState::Ended;
        m_owner.OnTapEnded(reaction == Reaction::AcceptThenEndCall);
        return;
    }
}
