#pragma once

#include <QByteArray>
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
    virtual void OnTapRefused() = 0;
};

enum class TapState : std::int32_t
{
    Dialling = 0,
    Connected = 256,
    Waking = 1,
    LoginSent = 2,
    AwaitGoAhead = 3,
    BlockSent = 4,
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
    };

    static constexpr int kLineBufferSize = 1024;
    static constexpr std::int32_t kTicksBetweenWakeUps = 20;

    void AppendToLine(std::string_view chunk);
    void KeepOnlyUnfinishedPattern();
    std::string_view SearchableLine() const;
    Reaction ChooseReaction() const;
    void CarryOut(Reaction reaction);

    ITapLine& m_line;
    ITapOwner& m_owner;
    TapState m_nState = TapState::Dialling;
    std::int32_t m_nTickCount = 0;
    std::array<char, kLineBufferSize> m_lineBuffer {};
    std::int32_t m_nLineFill = 0;
    QByteArray m_strPagerId;
    QByteArray m_strMessageText;
    // Each block gets at most one verdict: a repeated ACK or NAK for a block already
    // judged is not reported again (nor is a second logout written) until the next
    // block goes out.
    bool m_bVerdictGiven = false;
};
