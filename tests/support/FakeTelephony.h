#pragma once

#include "platform/telephony/Telephony.h"

#include <QList>
#include <QMetaObject>
#include <QObject>
#include <QStringList>
#include <QVariant>
#include <algorithm>
#include <functional>

// A line interface whose devices, results and events the test sets; or, given another
// interface (the machine's own), one that passes every call on to it. Either way every
// call is written to `calls` with its numbers in decimal ("lineInitialize 100",
// "lineMakeCall 5551234", "lineDrop 102" ...). Its own events reach the callback
// through the event loop, as the real one's do.
class FakeTelephony final : public ITelephony
{
public:
    explicit FakeTelephony(ITelephony* passOnTo = nullptr)
        : m_real(passOnTo)
    {
    }

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
        if (m_real) {
            const std::int32_t result = m_real->lineInitialize(app, proc, deviceCount);
            return Log(result, "lineInitialize", *app);
        }
        callback = proc;
        *app = m_nextHandle++;
        *deviceCount = std::uint32_t(devices.size());
        return Log(0, "lineInitialize", *app);
    }
    std::int32_t lineNegotiateAPIVersion(LineAppHandle app, std::uint32_t device, std::uint32_t low,
        std::uint32_t high, std::uint32_t* version, LineExtensionId* extension) override
    {
        *version = kLineApiVersion;
        const std::int32_t result = m_real
            ? m_real->lineNegotiateAPIVersion(app, device, low, high, version, extension)
            : 0;
        return Log(result, "lineNegotiateAPIVersion", device, low, high);
    }
    std::int32_t lineGetDevCaps(LineAppHandle app, std::uint32_t device, std::uint32_t version,
        std::uint32_t extVersion, LineDevCaps* caps) override
    {
        if (m_real)
            return Log(m_real->lineGetDevCaps(app, device, version, extVersion, caps),
                "lineGetDevCaps", device);
        caps->lineName = devices.value(device, "?");
        return Log(caps->lineName == "?" ? LINEERR_OPERATIONFAILED : 0, "lineGetDevCaps", device);
    }
    std::int32_t lineOpen(LineAppHandle app, std::uint32_t device, LineHandle* line,
        std::uint32_t version, std::uint32_t extVersion, std::uintptr_t callbackInstance,
        std::uint32_t privileges, std::uint32_t mediaModes) override
    {
        if (m_real)
            return Log(m_real->lineOpen(app, device, line, version, extVersion, callbackInstance,
                           privileges, mediaModes),
                "lineOpen", device, privileges, mediaModes);
        instance = callbackInstance;
        isLineOpen = true;
        *line = m_nextHandle++;
        return Log(0, "lineOpen", device, privileges, mediaModes);
    }
    std::int32_t lineMakeCall(LineHandle line, CallHandle* call, const QString& number,
        std::uint32_t countryCode) override
    {
        if (m_real)
            return Log(
                m_real->lineMakeCall(line, call, number, countryCode), "lineMakeCall " + number);
        const std::int32_t result = makeCallResults.isEmpty() ? 0 : makeCallResults.takeFirst();
        if (result >= 0)
            *call = lastCall = m_nextHandle++;
        return Log(result, "lineMakeCall " + number);
    }
    std::int32_t lineGetID(LineHandle line, std::uint32_t address, CallHandle call,
        std::uint32_t select, std::unique_ptr<CCommPort>* port, const QString& deviceClass) override
    {
        if (m_real)
            return Log(m_real->lineGetID(line, address, call, select, port, deviceClass),
                "lineGetID", call, select, deviceClass);
        if (makePort)
            *port = makePort();
        return Log(makePort ? 0 : LINEERR_OPERATIONFAILED, "lineGetID", call, select, deviceClass);
    }
    std::int32_t lineGetCallInfo(CallHandle call, LineCallInfo* info) override
    {
        if (m_real)
            return Log(m_real->lineGetCallInfo(call, info), "lineGetCallInfo", call);
        *info = callInfo;
        return Log(0, "lineGetCallInfo", call);
    }
    std::int32_t lineAnswer(CallHandle call) override
    {
        return Log(m_real ? m_real->lineAnswer(call) : answerResult, "lineAnswer", call);
    }
    std::int32_t lineDrop(CallHandle call) override
    {
        return Log(m_real ? m_real->lineDrop(call) : 0, "lineDrop", call);
    }
    std::int32_t lineDeallocateCall(CallHandle call) override
    {
        std::int32_t result = deallocateResults.isEmpty() ? 0 : deallocateResults.takeFirst();
        if (m_real)
            result = m_real->lineDeallocateCall(call);
        return Log(result, "lineDeallocateCall", call);
    }
    std::int32_t lineClose(LineHandle line) override
    {
        isLineOpen = false;
        return Log(m_real ? m_real->lineClose(line) : 0, "lineClose", line);
    }
    std::int32_t lineShutdown(LineAppHandle app) override
    {
        return Log(m_real ? m_real->lineShutdown(app) : 0, "lineShutdown", app);
    }

private:
    template <typename... Args>
    std::int32_t Log(std::int32_t result, const QString& name, Args... args)
    {
        QStringList words { name };
        ((words << QVariant(args).toString()), ...);
        calls << words.join(' ');
        return result;
    }

    ITelephony* m_real;
    QObject m_context;
    std::uint32_t m_nextHandle = 100;
};
