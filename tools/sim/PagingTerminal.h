#pragma once

#include "PagingSimulator.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

namespace quillpost::sim {

// One thing the terminal does in answer to what it received, in order.
struct TerminalAction
{
    enum class Kind
    {
        Reply,
        Accept,
        End
    };
    Kind kind = Kind::Reply;
    QByteArray bytes; // Reply: what goes on the line, as one reply
    AcceptedPage page; // Accept: the page just acknowledged
    CallEnd end = CallEnd::Logout;
};
using TerminalActions = QList<TerminalAction>;

// The paging terminal's side of one TAP call, without any I/O or timers: bytes go
// in, replies, accepted pages and the end of the call come out. "ID=" answers each
// CR until the log-on ESC "PG1" [password] CR; then every block from STX to the CR
// after its three check characters is judged whole, and EOT CR ends the call.
// A page may span blocks: ETB instead of ETX says more follow, and US instead of
// CR says the field goes on in the next block.
class PagingTerminal
{
public:
    PagingTerminal(const SimConfig& config, int callNumber);

    // What the terminal sends as the call connects (normally nothing).
    TerminalActions connect();
    TerminalActions receive(QByteArrayView bytes);
    // The caller has been idle too long: say so and end the call.
    TerminalActions idleTimeout();

    bool loggedIn() const { return m_phase == Phase::Ready; }
    bool ended() const { return m_phase == Phase::Ended; }
    int blocksSeen() const { return m_blocksSeen; }

private:
    enum class Phase
    {
        AwaitLogon,
        Ready,
        Ended
    };
    enum class BlockPart
    {
        None,
        Fields,
        Check,
        Tail
    };

    void receiveBeforeLogon(char byte, TerminalActions& out);
    void answerLogonLine(TerminalActions& out);
    void receiveWhenReady(char byte, TerminalActions& out);
    void judgeBlock(TerminalActions& out);
    bool splitFields(QList<QByteArray>& fields, bool& continues) const;
    static bool isValidPagerId(const QByteArray& pagerId);
    // NAK: a transmission error, the caller may send the block again.
    void refuse(const QByteArray& complaint, TerminalActions& out);
    // RS: the block can never be taken; the caller goes on with the next one.
    void abandon(const QByteArray& complaint, TerminalActions& out);
    bool acceptsLogon(const QByteArray& password, TerminalActions& out);
    void replyAfterLine(
        const QByteArray& sequenceLine, const QByteArray& control, TerminalActions& out);
    void reply(QByteArray bytes, TerminalActions& out);
    void endCall(CallEnd how, TerminalActions& out);
    QByteArray noise(int length, bool lineEnd);

    SimConfig m_config;
    int m_call = 0;
    Phase m_phase = Phase::AwaitLogon;
    QByteArray m_line; // before log-on: the line since the last CR
    int m_logonAttempts = 0;

    BlockPart m_part = BlockPart::None;
    QByteArray m_block; // STX through ETX, at most a few KiB kept
    qsizetype m_blockLength = 0; // every byte of the block, kept or not
    QByteArray m_check;
    bool m_tailJunk = false;
    bool m_eotSeen = false;
    int m_blocksSeen = 0;
    int m_pagesAccepted = 0;
    QList<QByteArray> m_carriedFields; // fields of a page whose blocks end in ETB so far
    bool m_carriedContinues = false;
    quint32 m_noiseState = 0x2545F491u;
};

} // namespace quillpost::sim
