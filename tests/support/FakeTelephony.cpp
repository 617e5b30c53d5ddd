#include "FakeTelephony.h"

#include <QMetaObject>

FakeTelephony::FakeTelephony() = default;
FakeTelephony::~FakeTelephony() = default;

int FakeTelephony::count(const QString& prefix) const
{
    int found = 0;
    for (const QString& call : calls)
        found += call.startsWith(prefix) ? 1 : 0;
    return found;
}

void FakeTelephony::emitEvent(std::uint32_t hDevice, std::uint32_t message, std::uintptr_t param1)
{
    QMetaObject::invokeMethod(
        &m_context,
        [this, hDevice, message, param1] {
            if (isLineOpen && callback)
                callback(hDevice, message, instance, param1, 0, 0);
        },
        Qt::QueuedConnection);
}

std::int32_t FakeTelephony::lineInitialize(
    LineAppHandle* app, LineCallbackProc proc, std::uint32_t* deviceCount)
{
    calls << QStringLiteral("lineInitialize");
    if (initializeResult < 0)
        return initializeResult;
    callback = proc;
    *app = m_nextHandle++;
    *deviceCount = static_cast<std::uint32_t>(devices.size());
    return 0;
}

std::int32_t FakeTelephony::lineNegotiateAPIVersion(LineAppHandle, std::uint32_t device,
    std::uint32_t lowVersion, std::uint32_t highVersion, std::uint32_t* version, LineExtensionId*)
{
    calls << QStringLiteral("lineNegotiateAPIVersion %1 %2 %3")
                 .arg(device)
                 .arg(lowVersion)
                 .arg(highVersion, 0, 16);
    if (device == 0 && firstNegotiateResult < 0)
        return firstNegotiateResult;
    *version = kLineApiVersion;
    return 0;
}

std::int32_t FakeTelephony::lineGetDevCaps(
    LineAppHandle, std::uint32_t device, std::uint32_t, std::uint32_t, LineDevCaps* caps)
{
    calls << QStringLiteral("lineGetDevCaps %1").arg(device);
    if (device >= static_cast<std::uint32_t>(devices.size()) || !devices[device])
        return LINEERR_OPERATIONFAILED;
    caps->lineName = *devices[device];
    return 0;
}

std::int32_t FakeTelephony::lineOpen(LineAppHandle, std::uint32_t device, LineHandle* line,
    std::uint32_t, std::uint32_t, std::uintptr_t callbackInstance, std::uint32_t privileges,
    std::uint32_t mediaModes, const LineCallParams*)
{
    calls << QStringLiteral("lineOpen %1 %2 %3").arg(device).arg(privileges).arg(mediaModes, 0, 16);
    if (openResult < 0)
        return openResult;
    instance = callbackInstance;
    isLineOpen = true;
    *line = m_nextHandle++;
    return 0;
}

std::int32_t FakeTelephony::lineMakeCall(LineHandle, CallHandle* call, const QString& destAddress,
    std::uint32_t, const LineCallParams* params)
{
    calls << QStringLiteral("lineMakeCall %1 %2")
                 .arg(destAddress)
                 .arg(params ? params->mediaMode : 0, 0, 16);
    const std::int32_t result = makeCallResults.isEmpty() ? 0 : makeCallResults.takeFirst();
    if (result >= 0) {
        lastCall = m_nextHandle++;
        *call = lastCall;
    }
    return result;
}

std::int32_t FakeTelephony::lineGetID(LineHandle, std::uint32_t, CallHandle call,
    std::uint32_t select, std::unique_ptr<CCommPort>* port, const QString& deviceClass)
{
    calls << QStringLiteral("lineGetID %1 %2 %3").arg(call).arg(select).arg(deviceClass);
    if (!makePort)
        return LINEERR_OPERATIONFAILED;
    *port = makePort();
    return 0;
}

std::int32_t FakeTelephony::lineAnswer(CallHandle call)
{
    calls << QStringLiteral("lineAnswer %1").arg(call);
    return answerResult;
}

std::int32_t FakeTelephony::lineDrop(CallHandle call)
{
    calls << QStringLiteral("lineDrop %1").arg(call);
    return 0;
}

std::int32_t FakeTelephony::lineDeallocateCall(CallHandle call)
{
    calls << QStringLiteral("lineDeallocateCall %1").arg(call);
    return deallocateResults.isEmpty() ? 0 : deallocateResults.takeFirst();
}

std::int32_t FakeTelephony::lineClose(LineHandle line)
{
    calls << QStringLiteral("lineClose %1").arg(line);
    isLineOpen = false;
    return 0;
}

std::int32_t FakeTelephony::lineShutdown(LineAppHandle app)
{
    calls << QStringLiteral("lineShutdown %1").arg(app);
    return 0;
}
