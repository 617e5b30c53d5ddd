// Feeds arbitrary chunks, ticks and owner requests to the TAP exchange in every state
// and aborts on any write that is not one of the program's own sequences, and on any
// verdict that does not answer a block.

#include "FuzzInput.h"
#include "tap/TapBlock.h"
#include "tap/TapExchange.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

namespace {

constexpr TapState kStates[] = { TapState::Dialling, TapState::Connected, TapState::Waking,
    TapState::LoginSent, TapState::AwaitGoAhead, TapState::BlockSent };

[[noreturn]] void Fail(const char* what)
{
    std::fprintf(stderr, "TAP exchange misbehaved: %s\n", what);
    std::abort();
}

QByteArray ToBytes(const std::string& text)
{
    return QByteArray(text.data(), static_cast<qsizetype>(text.size()));
}

// The line and the owner at once: checks every write against the sequences allowed at
// that moment, and answers verdicts as a sending window might, driven by the input.
class Checker : public ITapLine, public ITapOwner
{
public:
    explicit Checker(FuzzInput& input)
        : m_input(input)
    {
    }

    std::unique_ptr<CTapExchange> exchange;

    void SetPagerId(const QByteArray& pagerId)
    {
        m_pagerId = pagerId;
        exchange->SetPagerId(pagerId);
    }

    void SetMessageText(const QByteArray& text)
    {
        m_text = text;
        exchange->SetMessageText(text);
    }

    // Requests the owner may make at any time; returns false once the exchange is gone.
    bool MakeRequest()
    {
        switch (m_input.ConsumeIntegralInRange<int>(0, 6)) {
        case 0:
            exchange->SendBlock();
            break;
        case 1:
            exchange->SendLogout();
            break;
        case 2:
            SetPagerId(ToBytes(m_input.ConsumeRandomLengthString(40)));
            break;
        case 3:
            SetMessageText(ToBytes(m_input.ConsumeRandomLengthString(1100)));
            break;
        case 4:
            exchange->SetState(m_input.PickValueInArray(kStates));
            break;
        case 5:
            exchange->SendWakeUp();
            break;
        default:
            exchange.reset();
            return false;
        }
        return exchange != nullptr;
    }

    void WriteText(const QByteArray& bytes) override
    {
        m_lastWrite = bytes;
        if (bytes == TapWakeUpSequence()) {
            if (exchange && exchange->State() != TapState::Waking)
                Fail("wake-up written outside the waking state");
        } else if (bytes == TapLoginSequence()) {
            if (exchange && exchange->State() != TapState::LoginSent)
                Fail("login written outside the login state");
        } else if (bytes == TapLogoutSequence()) {
            m_pauseDue = true;
        } else if (bytes == FormatBlock(m_pagerId, m_text)) {
            if (bytes.size() >= kTapBlockBufferSize)
                Fail("block larger than its buffer");
            m_verdictAllowed = true;
        } else {
            Fail("unexpected bytes written");
        }
    }

    void Pause(int milliseconds) override
    {
        if (milliseconds != 100 || !m_pauseDue)
            Fail("pause that does not follow a logout");
        m_pauseDue = false;
    }

    void OnTapAccepted() override
    {
        TakeVerdict();
        Answer();
    }

    void OnTapRefused() override
    {
        TakeVerdict();
        if (m_lastWrite != TapLogoutSequence() || m_pauseDue)
            Fail("refusal not preceded by logout and pause");
        Answer();
    }

private:
    void TakeVerdict()
    {
        if (!m_verdictAllowed)
            Fail("second verdict for one block");
        if (exchange->State() != TapState::BlockSent)
            Fail("verdict outside the block state");
        m_verdictAllowed = false;
    }

    void Answer()
    {
        if (m_input.ConsumeBool())
            MakeRequest();
    }

    FuzzInput& m_input;
    QByteArray m_pagerId;
    QByteArray m_text;
    QByteArray m_lastWrite;
    // One verdict per block written (and one for a block out before the fuzzing began).
    bool m_verdictAllowed = true;
    bool m_pauseDue = false;
};

void FeedChunk(FuzzInput& input, CTapExchange& exchange)
{
    const std::string chunk = input.ConsumeRandomLengthString(2100);
    std::int32_t count = static_cast<std::int32_t>(chunk.size());
    // Now and then a count that does not describe the bytes: nothing may happen then.
    if (input.ConsumeIntegralInRange<int>(0, 15) == 0)
        count = input.ConsumeIntegralInRange<std::int32_t>(INT32_MIN, 0);
    exchange.OnReceived(count, chunk.data());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzInput input(data, size);
    Checker checker(input);
    checker.exchange = std::make_unique<CTapExchange>(checker, checker);
    checker.SetPagerId(ToBytes(input.ConsumeRandomLengthString(40)));
    checker.SetMessageText(ToBytes(input.ConsumeRandomLengthString(300)));
    checker.exchange->SetState(input.PickValueInArray(kStates));

    while (input.remaining_bytes() > 0 && checker.exchange) {
        const int step = input.ConsumeIntegralInRange<int>(0, 9);
        if (step <= 6) {
            FeedChunk(input, *checker.exchange);
        } else if (step == 7) {
            const int ticks = input.ConsumeIntegralInRange<int>(1, 64);
            for (int tick = 0; tick < ticks && checker.exchange; ++tick)
                checker.exchange->OnTick();
        } else {
            checker.MakeRequest();
        }
    }
    return 0;
}
