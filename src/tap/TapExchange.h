#pragma once

#include <QByteArray>
#include <QString>
#include <array>
#include <cstdint>
#include <string_view>

// Where the exchange writes its bytes: the connected line in the program, a buffer
// in tests.
class ITapLine
{
public:
    virtual ~ITapLine() = default;
    virtual void WriteText(const QByteArray& bytes) = 0;
    // The fixed pause after a logout; tests may make it instant.
    virtual void Pause(int milliseconds);
};

// Who hears the terminal's verdict on each block (the sending window).
class ITapOwner
{
public:
    virtual ~ITapOwner() = default;
    virtual void OnTapAccepted() = 0;
    // NAK (send it again some other time) or RS (abandon it): either way the block is
    // refused and the logout has been written.
    virtual void OnTapRefused() = 0;
    // The terminal ended the call (ESC EOT). `acceptedFirst`: the same reply accepted
    // the block just sent before ending, so that block counts as delivered.
    virtual void OnTapEnded(bool /*acceptedFirst*/) { }
    // The terminal said a new message-sequence line ("211 Page Sent"): printable
    // characters only, at most kTapTerminalLineLength. It comes before the verdict it
    // explains. The owner may only take note of it here: no write, no state change.
    virtual void OnTapTerminalLine(const QString& /*line*/) { }
};

inline constexpr int kTapTerminalLineLength = 80;

enum class TapState : std::int32_t
{
    Dialling = 0,
    Connected = 256,
    Waking = 1,
    LoginSent = 2,
    AwaitGoAhead = 3,
    BlockSent = 4,
    Ended = 5, // the terminal ended the call; nothing more is looked for
};

// The TAP conversation with a paging terminal, as a state machine driven by received
// chunks, a 100 ms tick and the owner's requests. It runs against any byte stream.
// It holds no lock: every call must come from one thread. Notifications reach the owner
// synchronously and last, so from inside OnTapAccepted or OnTapRefused the owner may
// set the next pager identifier and call SendBlock, call SendLogout, change the state,
// or destroy the exchange.
class CTapExchange
{
public:
    CTapExchange(ITapLine& line, ITapOwner& owner);

    TapState State() const;
    void SetState(TapState state);

    void SetPagerId(const QByteArray& pagerId);
    void SetMessageText(const QByteArray& text);
    // Sent with the log-on; empty: the log-on carries none.
    void SetPassword(const QByteArray& password);
    // The terminal's last message-sequence line since the last block went out (or
    // since the start, before the first block); empty when it said none.
    const QString& TerminalLine() const { return m_strTerminalLine; }

    void SendWakeUp();
    void OnTick();
    void OnReceived(std::int32_t count, const char* bytes);
    void SendBlock();
    void SendLogout();

private:
    // What one parse of the received line asks the exchange to do.
    enum class Reaction
    {
        None,
        SendLogin,
        AwaitGoAhead,
        SendFirstBlock,
        ReportAccepted,
        RefuseBlock,
        EndCall,
        AcceptThenEndCall,
    };

    static constexpr int kLineBufferSize = 1024;
    static constexpr std::int32_t kTicksBetweenWakeUps = 20;

    void AppendToLine(std::string_view chunk);
    void KeepOnlyUnfinishedPattern();
    std::string_view SearchableLine() const;
    Reaction ChooseReaction() const;
    Reaction ChooseBlockVerdict(std::string_view line) const;
    void TakeTerminalLine();
    void CarryOut(Reaction reaction);
    // Every write goes through here, so that the log shows the whole conversation.
    void Write(const QByteArray& bytes);

    ITapLine& m_line;
    ITapOwner& m_owner;
    TapState m_nState = TapState::Dialling;
    std::int32_t m_nTickCount = 0;
    std::array<char, kLineBufferSize> m_lineBuffer {};
    std::int32_t m_nLineFill = 0;
    QByteArray m_strPagerId;
    QByteArray m_strMessageText;
    QByteArray m_strPassword;
    QString m_strTerminalLine;
    // Each block gets at most one verdict: a repeated ACK or NAK for a block already
    // judged is not reported again (nor is a second logout written) until the next
    // block goes out.
    bool m_bVerdictGiven = false;
};
