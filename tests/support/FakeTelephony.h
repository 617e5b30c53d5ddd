#pragma once

#include "platform/telephony/Telephony.h"

#include <QList>
#include <QObject>
#include <QStringList>
#include <functional>
#include <optional>

// A line interface whose devices, results and events the test sets. Every call is
// written to `calls` ("lineMakeCall 5551234", "lineDrop 7" ...); events are delivered
// to the registered callback through the event loop, as the real one does.
class FakeTelephony final : public ITelephony
{
public:
    FakeTelephony();
    ~FakeTelephony() override;

    // One entry per device: its line name, or nothing for a device whose
    // capabilities cannot be read.
    QList<std::optional<QString>> devices;
    std::int32_t initializeResult = 0;
    std::int32_t firstNegotiateResult = 0; // for device 0 only
    std::int32_t openResult = 0;
    QList<std::int32_t> makeCallResults; // taken in order; 0 once used up
    QList<std::int32_t> deallocateResults; // taken in order; 0 once used up
    std::int32_t answerResult = 0;
    // The data handle lineGetID hands over; none makes lineGetID fail.
    std::function<std::unique_ptr<CCommPort>()> makePort;

    QStringList calls;
    int count(const QString& prefix) const;

    LineCallbackProc callback = nullptr;
    std::uintptr_t instance = 0;
    bool isLineOpen = false;
    CallHandle lastCall = 0;

    // Queues a line event for the registered callback (dropped if the line is closed
    // by the time it is delivered).
    void emitEvent(std::uint32_t hDevice, std::uint32_t message, std::uintptr_t param1);
    void emitCallState(std::uint32_t state) { emitEvent(lastCall, LINE_CALLSTATE, state); }

    std::int32_t lineInitialize(
        LineAppHandle* app, LineCallbackProc callback, std::uint32_t* deviceCount) override;
    std::int32_t lineNegotiateAPIVersion(LineAppHandle app, std::uint32_t device,
        std::uint32_t lowVersion, std::uint32_t highVersion, std::uint32_t* version,
        LineExtensionId* extension) override;
    std::int32_t lineGetDevCaps(LineAppHandle app, std::uint32_t device, std::uint32_t version,
        std::uint32_t extVersion, LineDevCaps* caps) override;
    std::int32_t lineOpen(LineAppHandle app, std::uint32_t device, LineHandle* line,
        std::uint32_t version, std::uint32_t extVersion, std::uintptr_t callbackInstance,
        std::uint32_t privileges, std::uint32_t mediaModes, const LineCallParams* params) override;
    std::int32_t lineMakeCall(LineHandle line, CallHandle* call, const QString& destAddress,
        std::uint32_t countryCode, const LineCallParams* params) override;
    std::int32_t lineGetID(LineHandle line, std::uint32_t address, CallHandle call,
        std::uint32_t select, std::unique_ptr<CCommPort>* port,
        const QString& deviceClass) override;
    std::int32_t lineAnswer(CallHandle call) override;
    std::int32_t lineDrop(CallHandle call) override;
    std::int32_t lineDeallocateCall(CallHandle call) override;
    std::int32_t lineClose(LineHandle line) override;
    std::int32_t lineShutdown(LineAppHandle app) override;

private:
    QObject m_context;
    std::uint32_t m_nextHandle = 100;
};
