#include "PagingTerminal.h"

#include "TerminalChecksum.h"

#include <QDateTime>
#include <algorithm>
#include <initializer_list>

namespace quillpost::sim {

namespace {

constexpr char STX = 0x02;
constexpr char ETX = 0x03;
constexpr char EOT = 0x04;
constexpr char ACK = 0x06;
constexpr char LF = 0x0A;
constexpr char CR = 0x0D;
constexpr char NAK = 0x15;
constexpr char ETB = 0x17;
constexpr char ESC = 0x1B;
constexpr char RS = 0x1E;
constexpr char US = 0x1F;

constexpr qsizetype kLogonLineLimit = 1024;
// A block longer than this is refused without being kept whole, so a caller
// that never sends ETX cannot make the terminal hoard memory.
constexpr qsizetype kBlockKeepLimit = 4096;
constexpr qsizetype kLongestPagerId = 16;
constexpr int kPasswordLimit = 6;
constexpr int kLongRunLength = 2000;

QByteArray controls(std::initializer_list<char> bytes)
{
    return QByteArray(bytes.begin(), static_cast<qsizetype>(bytes.size()));
}

// ESC EOT CR: the terminal ends the call.
QByteArray goAway()
{
    return controls({ ESC, EOT, CR });
}

bool isPrintableAscii(char byte)
{
    return byte >= 0x20 && byte <= 0x7E;
}

bool isAlphanumeric(char byte)
{
    return (byte >= '0' && byte <= '9') || (byte >= 'A' && byte <= 'Z')
        || (byte >= 'a' && byte <= 'z');
}

} // namespace

PagingTerminal::PagingTerminal(const SimConfig& config, int callNumber)
    : m_config(config)
    , m_call(callNumber)
{
}

TerminalActions PagingTerminal::connect()
{
    TerminalActions out;
    if (m_config.faults.longRunWithoutLineEnd && !m_config.faults.silentAfterConnect)
        out.append({ TerminalAction::Kind::Reply, noise(kLongRunLength, false), {}, {} });
    return out;
}

TerminalActions PagingTerminal::receive(QByteArrayView bytes)
{
    TerminalActions out;
    if (m_config.faults.silentAfterConnect)
        return out; // deaf as well as dumb: not even a logout ends the call
    for (char byte : bytes) {
        if (m_phase == Phase::Ended)
            break;
        if (m_phase == Phase::AwaitLogon)
            receiveBeforeLogon(byte, out);
        else
            receiveWhenReady(byte, out);
    }
    return out;
}

TerminalActions PagingTerminal::idleTimeout()
{
    TerminalActions out;
    if (m_phase == Phase::Ended)
        return out;
    replyAfterLine("501 Time Out", goAway(), out);
    endCall(CallEnd::IdleTimeout, out);
    return out;
}

void PagingTerminal::receiveBeforeLogon(char byte, TerminalActions& out)
{
    if (byte == LF)
        return;
    if (byte == CR) {
        answerLogonLine(out);
        m_line.clear();
        return;
    }
    if (m_line.size() >= kLogonLineLimit)
        m_line.remove(0, 1);
    m_line.append(byte);
}

void PagingTerminal::answerLogonLine(TerminalActions& out)
{
    const qsizetype escape = m_line.lastIndexOf(ESC);
    if (escape < 0) {
        if (m_line.contains(EOT)) {
            reply(goAway(), out);
            endCall(CallEnd::Logout, out);
        } else {
            reply("ID=", out);
        }
        return;
    }
    const QByteArray logon = m_line.mid(escape + 1);
    const QByteArray password = logon.mid(3);
    const bool wellFormed = logon.startsWith("PG1") && password.size() <= kPasswordLimit
        && std::all_of(password.begin(), password.end(), isAlphanumeric);
    if (!wellFormed) {
        replyAfterLine("507 Invalid Logon", controls({ NAK, CR }), out);
        return;
    }
    ++m_logonAttempts;
    if (m_logonAttempts <= m_config.faults.nakLoginTimes) {
        reply(controls({ NAK, CR }), out);
        return;
    }
    if (!acceptsLogon(password, out))
        return;
    replyAfterLine("110 1.8", controls({ ACK, CR, ESC, '[', 'p', CR }), out);
    m_phase = Phase::Ready;
}

// A wrong password ends the call, as a TAP 1.8 terminal does.
bool PagingTerminal::acceptsLogon(const QByteArray& password, TerminalActions& out)
{
    if (m_config.password.isEmpty() || password == m_config.password)
        return true;
    replyAfterLine("509 Invalid Password", goAway(), out);
    endCall(CallEnd::LogonRefused, out);
    return false;
}

void PagingTerminal::receiveWhenReady(char byte, TerminalActions& out)
{
    switch (m_part) {
    case BlockPart::None:
        if (byte == STX) {
            m_part = BlockPart::Fields;
            m_block = QByteArray(1, STX);
            m_blockLength = 1;
            m_check.clear();
            m_tailJunk = false;
            m_eotSeen = false;
        } else if (byte == EOT) {
            m_eotSeen = true;
        } else if (byte == CR && m_eotSeen) {
            replyAfterLine("115 Goodbye", goAway(), out);
            endCall(CallEnd::Logout, out);
        }
        // Anything else between blocks (stray CRs, a repeated log-on) is ignored.
        return;
    case BlockPart::Fields:
        if (byte == STX) {
            // A fresh STX means the caller started over; what came before is lost.
            m_block = QByteArray(1, STX);
            m_blockLength = 1;
            return;
        }
        ++m_blockLength;
        if (m_block.size() < kBlockKeepLimit)
            m_block.append(byte);
        if (byte == ETX || byte == ETB)
            m_part = BlockPart::Check;
        return;
    case BlockPart::Check:
        ++m_blockLength;
        if (byte == CR) {
            judgeBlock(out); // cut short: fewer than three check characters
            return;
        }
        m_check.append(byte);
        if (m_check.size() == 3)
            m_part = BlockPart::Tail;
        return;
    case BlockPart::Tail:
        ++m_blockLength;
        if (byte == CR)
            judgeBlock(out);
        else
            m_tailJunk = true;
        return;
    }
}

void PagingTerminal::judgeBlock(TerminalActions& out)
{
    const int number = ++m_blocksSeen;
    m_part = BlockPart::None;
    if (m_blockLength > m_config.maxBlockLength || m_blockLength > kBlockKeepLimit) {
        abandon("513 Message Too Long", out);
        return;
    }
    if (!checksumMatches(m_block, m_check)) {
        refuse("514 Checksum Error", out);
        return;
    }
    if (m_tailJunk) {
        abandon("515 Format Error", out);
        return;
    }
    QList<QByteArray> fields;
    bool continues = false;
    if (!splitFields(fields, continues)) {
        abandon("515 Format Error", out);
        return;
    }
    // ETB: more blocks of this page follow; US: its last field goes on in the next.
    QList<QByteArray> pageFields = m_carriedFields;
    if (m_carriedContinues && !fields.isEmpty() && !pageFields.isEmpty())
        pageFields.last() += fields.takeFirst();
    pageFields += fields;
    const bool lastBlockOfPage = m_block.endsWith(ETX);
    if (lastBlockOfPage) {
        if (continues || pageFields.size() < 2) {
            abandon("515 Format Error", out);
            return;
        }
        if (!isValidPagerId(pageFields.first())) {
            abandon("510 Illegal Pager ID", out);
            return;
        }
        if (m_config.unknownPagerIds.contains(pageFields.first())) {
            abandon("511 Invalid Pager ID", out);
            return;
        }
        if (m_config.maxPagesPerCall > 0 && m_pagesAccepted >= m_config.maxPagesPerCall) {
            replyAfterLine("512 Too Many Pages, Call Again", goAway(), out);
            endCall(CallEnd::PageLimit, out);
            return;
        }
    }
    if (number == m_config.faults.nakBlock) {
        refuse("514 Checksum Error", out);
        return;
    }
    if (!lastBlockOfPage) {
        m_carriedFields = pageFields;
        m_carriedContinues = continues;
        reply(controls({ ACK, CR }), out);
        if (number == m_config.faults.dropLineAfterBlock)
            endCall(CallEnd::DroppedByFault, out);
        return;
    }
    m_carriedFields.clear();
    m_carriedContinues = false;
    ++m_pagesAccepted;
    if (!m_config.faults.garbage) {
        // A message that itself holds CRs (more fields) is kept whole, as it arrived.
        const QByteArray text = pageFields.mid(1).join(CR);
        AcceptedPage page { pageFields.first(), text, m_check, m_call,
            QDateTime::currentDateTimeUtc() };
        out.append({ TerminalAction::Kind::Accept, {}, page, {} });
    }
    replyAfterLine(
        m_config.deferredDelivery ? "213 Message Accepted, Deferred Delivery" : "211 Page(s) Sent",
        controls({ ACK, CR }), out);
    if (number == m_config.faults.dropLineAfterBlock)
        endCall(CallEnd::DroppedByFault, out);
}

// Between STX and ETX (or ETB): fields each closed by CR, the last one possibly
// closed by US instead when it goes on in the next block.
bool PagingTerminal::splitFields(QList<QByteArray>& fields, bool& continues) const
{
    const QByteArray content = m_block.mid(1, m_block.size() - 2);
    qsizetype start = 0;
    for (qsizetype cr = content.indexOf(CR); cr >= 0; cr = content.indexOf(CR, start)) {
        fields.append(content.mid(start, cr - start));
        start = cr + 1;
    }
    const QByteArray rest = content.mid(start);
    continues = rest.endsWith(US);
    if (continues)
        fields.append(rest.chopped(1));
    return rest.isEmpty() || continues;
}

bool PagingTerminal::isValidPagerId(const QByteArray& pagerId)
{
    return !pagerId.isEmpty() && pagerId.size() <= kLongestPagerId
        && std::all_of(pagerId.begin(), pagerId.end(), isPrintableAscii);
}

void PagingTerminal::refuse(const QByteArray& complaint, TerminalActions& out)
{
    replyAfterLine(complaint, controls({ NAK, CR }), out);
}

void PagingTerminal::abandon(const QByteArray& complaint, TerminalActions& out)
{
    // What the page's earlier blocks carried goes with it.
    m_carriedFields.clear();
    m_carriedContinues = false;
    replyAfterLine(complaint, controls({ RS, CR }), out);
}

// A prompt or verdict, preceded by the message-sequence line that explains it unless
// those lines are left out.
void PagingTerminal::replyAfterLine(
    const QByteArray& sequenceLine, const QByteArray& control, TerminalActions& out)
{
    QByteArray words;
    if (m_config.messageSequences)
        words += sequenceLine + CR;
    reply(words + control, out);
}

void PagingTerminal::reply(QByteArray bytes, TerminalActions& out)
{
    if (m_config.faults.silentAfterConnect)
        return;
    if (m_config.faults.garbage)
        bytes = noise(16, true);
    else if (m_config.crLfLineEnds)
        bytes.replace(QByteArray(1, CR), controls({ CR, LF }));
    out.append({ TerminalAction::Kind::Reply, bytes, {}, {} });
}

void PagingTerminal::endCall(CallEnd how, TerminalActions& out)
{
    m_phase = Phase::Ended;
    out.append({ TerminalAction::Kind::End, {}, {}, how });
}

// Line noise that can never be read as a prompt or a verdict: no control
// characters, no "=", and no byte whose low seven bits would be one of those.
QByteArray PagingTerminal::noise(int length, bool lineEnd)
{
    QByteArray bytes;
    bytes.reserve(length + 2);
    while (bytes.size() < length) {
        m_noiseState = m_noiseState * 1664525u + 1013904223u;
        const auto candidate = static_cast<unsigned char>(m_noiseState >> 24);
        const unsigned char low = candidate & 0x7F;
        if (low < 0x21 || low == 0x7F || low == '=')
            continue;
        bytes.append(static_cast<char>(candidate));
    }
    if (lineEnd) {
        bytes += CR;
        bytes += LF;
    }
    return bytes;
}

} // namespace quillpost::sim
