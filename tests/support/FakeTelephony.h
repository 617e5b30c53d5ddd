#pragma once

#include "platform/telephony/Telephony.h"

#include <QList>
#include <QMetaObject>
#include <QObject>
#include <QStringList>
#include <QVariant>
#include <algorithm>
#include <functional>

// A line interface whose devices, results and events the test sets. Every call is
// written to `calls` with its numbers in decimal ("lineInitialize 100",
// "lineMakeCall 5551234", "lineDrop 102" ...). Its own events reach the callback
// through the event loop, as the real one's do.
class FakeTelephony final : public ITelephony
{
public:
    // One line name per device; "?" for a device whose capabilities cannot be read.
    QStringList devices;
    std::int32_t answerResult = 0;
    QList<std::int32_t> makeCallResults; // taken in order; 0 once used up
    QList<std::int32_t> deallocateResults; // taken in order; 0 once used up
    // The data handle lineGetID hands over; none makes lineGetID fail.
    std::function<std::unique_ptr<CCommPort>()> makePort;
    LineCallInfo callInfo; // what lineGetCallInfo tells of any call

    QStringList calls;
    LineCallbackProc callback = nullptr;
    std::uintptr_t instance = 0;
    bool isLineOpen = false;
    CallHandle lastCall = 0;

    int count(const QString& prefix) const
    {
        return int(std::count_if(
            calls.begin(), calls.end(), [&](auto& c) { return c.startsWith(prefix); }));
    }
    // Queues a line event (dropped if the line is closed by the time it is due).
    void emitEvent(std::uint32_t hDevice, std::uint32_t message, std::uintptr_t param1,
        std::uintptr_t param2 = 0)
    {
        QMetaObject::invokeMethod(
            &m_context,
            [=, this] {
                if (isLineOpen && callback)
                    callback(hDevice, message, instance, param1, param2, 0);
            },
            Qt::QueuedConnection);
    }
    void emitCallState(std::uint32_t state) { emitEvent(lastCall, LINE_CALLSTATE, state); }

    std::int32_t lineInitialize(
        LineAppHandle* app, LineCallbackProc proc, std::uint32_t* deviceCount) override
    {
        callback = proc;
        *app = m_nextHandle++;
        *deviceCount = std::uint32_t(devices.size());
        return Log(0, "lineInitialize", *app);
    }
    std::int32_t lineNegotiateAPIVersion(LineAppHandle, std::uint32_t device, std::uint32_t low,
        std::uint32_t high, std::uint32_t* version, LineExtensionId*) override
    {
        *version = kLineApiVersion;
        return Log(0, "lineNegotiateAPIVersion", device, low, high);
    }
    std::int32_t lineGetDevCaps(LineAppHandle, std::uint32_t device, std::uint32_t, std::uint32_t,
        LineDevCaps* caps) override
    {
        caps->lineName = devices.value(device, "?");
        return Log(caps->lineName == "?" ? LINEERR_OPERATIONFAILED : 0, "lineGetDevCaps", device);
    }
    std::int32_t lineOpen(LineAppHandle, std::uint32_t device, LineHandle* line, std::uint32_t,
        std::uint32_t, std::uintptr_t callbackInstance, std::uint32_t privileges,
        std::uint32_t mediaModes) override
    {
        instance = callbackInstance;
        isLineOpen = true;
        *line = m_nextHandle++;
        return Log(0, "lineOpen", device, privileges, mediaModes);
    }
    std::int32_t lineMakeCall(
        LineHandle, CallHandle* call, const QString& number, std::uint32_t) override
    {
        const std::int32_t result = makeCallResults.isEmpty() ? 0 : makeCallResults.takeFirst();
        if (result >= 0)
            *call = lastCall = m_nextHandle++;
        return Log(result, "lineMakeCall " + number);
    }
    std::int32_t lineGetID(LineHandle, std::uint32_t, CallHandle call, std::uint32_t select,
        std::unique_ptr<CCommPort>* port, const QString& deviceClass) override
    {
        if (makePort)
            *port = makePort();
        return Log(makePort ? 0 : LINEERR_OPERATIONFAILED, "lineGetID", call, select, deviceClass);
    }
    std::int32_t lineGetCallInfo(CallHandle call, LineCallInfo* info) override
    {
        *info = callInfo;
        return Log(0, "lineGetCallInfo", call);
    }
    std::int32_t lineAnswer(CallHandle call) override
    {
        return Log(answerResult, "lineAnswer", call);
    }
    std::int32_t lineDrop(CallHandle call) override { return Log(0, "lineDrop", call); }
    std::int32_t lineDeallocateCall(CallHandle call) override
    {
        return Log(deallocateResults.isEmpty() ? 0 : deallocateResults.takeFirst(),
            "lineDeallocateCall", call);
    }
    std::int32_t lineClose(LineHandle line) override
    {
        isLineOpen = false;
        return Log(0, "lineClose", line);
    }
    std::int32_t lineShutdown(LineAppHandle app) override { return Log(0, "lineShutdown", app); }

private:
    template <typename... Args>
    std::int32_t Log(std::int32_t result, const QString& name, Args... args)
    {
        QStringList words { name };
        ((words << QVariant(args).toString()), ...);
        calls << words.join(' ');
        return result;
    }

    QObject m_context;
    std::uint32_t m_nextHandle = 100;
};
