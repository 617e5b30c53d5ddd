#pragma once

#include <QByteArray>

#include <cstdint>

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

enum class TapState : std::int32_t {
    Dialling = 0,
    Connected = 256,
    Waking = 1,
    LoginSent = 2,
    AwaitGoAhead = 3,
    BlockSent = 4,
};

// The TAP conversation with a paging terminal, as a state machine driven by received
// chunks, a 100 ms tick and the owner's requests. It runs against any byte stream.
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
};
