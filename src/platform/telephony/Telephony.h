#pragma once

#include "platform/comm/CommPort.h"

#include <QString>
#include <cstdint>
#include <memory>

// The program's line-device interface: a handful of calls in the manner of a
// telephony API (initialise, negotiate, capabilities, open, call, answer, drop, close,
// shut down). Call-state events reach the callback given to lineInitialize on the
// thread that called it, through that thread's event loop, never directly from
// inside a call.

using LineAppHandle = std::uint32_t;
using LineHandle = std::uint32_t;
using CallHandle = std::uint32_t;

// hDevice is the call handle for call events, the line handle for line events.
using LineCallbackProc
    = void (*)(std::uint32_t hDevice, std::uint32_t message, std::uintptr_t callbackInstance,
        std::uintptr_t param1, std::uintptr_t param2, std::uintptr_t param3);

// Messages
inline constexpr std::uint32_t LINE_CALLSTATE = 2;
inline constexpr std::uint32_t LINE_LINEDEVSTATE = 8;
// Call states (first parameter of LINE_CALLSTATE)
inline constexpr std::uint32_t LINECALLSTATE_IDLE = 0x1;
inline constexpr std::uint32_t LINECALLSTATE_OFFERING = 0x2;
inline constexpr std::uint32_t LINECALLSTATE_BUSY = 0x40;
inline constexpr std::uint32_t LINECALLSTATE_CONNECTED = 0x100;
inline constexpr std::uint32_t LINECALLSTATE_DISCONNECTED = 0x4000;
// Disconnect modes (second parameter of LINE_CALLSTATE with LINECALLSTATE_DISCONNECTED;
// 0 when the far end or the line ended the call). This side could not place the call:
// the device cannot be opened or set up, or the modem does not take its init command.
// Nothing was dialled; lineGetCallInfo says why in the operator's words.
inline constexpr std::uint32_t LINEDISCONNECTMODE_LOCALFAULT = 0x01000000;
// Line device states (first parameter of LINE_LINEDEVSTATE)
inline constexpr std::uint32_t LINEDEVSTATE_RINGING = 0x2;
// Open and call parameters
inline constexpr std::uint32_t LINECALLPRIVILEGE_OWNER = 0x4;
inline constexpr std::uint32_t LINEMEDIAMODE_DATAMODEM = 0x10;
inline constexpr std::uint32_t LINECALLSELECT_CALL = 0x4;

// Error results; every failure is negative.
inline constexpr std::int32_t LINEERR_BADDEVICEID = static_cast<std::int32_t>(0x80000002u);
inline constexpr std::int32_t LINEERR_INCOMPATIBLEAPIVERSION
    = static_cast<std::int32_t>(0x8000000Cu);
inline constexpr std::int32_t LINEERR_INVALAPPHANDLE = static_cast<std::int32_t>(0x80000015u);
inline constexpr std::int32_t LINEERR_INVALCALLHANDLE = static_cast<std::int32_t>(0x80000018u);
inline constexpr std::int32_t LINEERR_INVALCALLSTATE = static_cast<std::int32_t>(0x8000001Cu);
inline constexpr std::int32_t LINEERR_INVALLINEHANDLE = static_cast<std::int32_t>(0x8000002Bu);
inline constexpr std::int32_t LINEERR_INVALPOINTER = static_cast<std::int32_t>(0x80000035u);
inline constexpr std::int32_t LINEERR_NODEVICE = static_cast<std::int32_t>(0x80000043u);
inline constexpr std::int32_t LINEERR_OPERATIONFAILED = static_cast<std::int32_t>(0x80000048u);
inline constexpr std::int32_t LINEERR_RESOURCEUNAVAIL = static_cast<std::int32_t>(0x8000004Bu);
inline constexpr std::int32_t LINEERR_INVALDEVICECLASS = static_cast<std::int32_t>(0x80000022u);

// What a line error means, for the log (which gives the number beside it).
inline const char* LineErrorName(std::int32_t result)
{
    switch (result) {
    case LINEERR_BADDEVICEID:
        return "no such device";
    case LINEERR_INCOMPATIBLEAPIVERSION:
        return "incompatible interface version";
    case LINEERR_INVALAPPHANDLE:
        return "the line interface is not started";
    case LINEERR_INVALCALLHANDLE:
        return "no such call";
    case LINEERR_INVALCALLSTATE:
        return "not possible in the call's state";
    case LINEERR_INVALLINEHANDLE:
        return "the line is not open";
    case LINEERR_INVALPOINTER:
        return "missing argument";
    case LINEERR_NODEVICE:
        return "the device is gone";
    case LINEERR_OPERATIONFAILED:
        return "the operation failed";
    case LINEERR_RESOURCEUNAVAIL:
        return "the line is busy with another call";
    case LINEERR_INVALDEVICECLASS:
        return "no such device class";
    default:
        return "line error";
    }
}

// The device class whose lineGetID hands over a connected call's data handle.
inline const QString kDataModemClass = QStringLiteral("comm/datamodem");

// The interface version this layer speaks.
inline constexpr std::uint32_t kLineApiVersion = 0x00020000;

struct LineExtensionId
{
    std::uint32_t id[4] = {};
};

// What the program reads of a line device's capabilities.
struct LineDevCaps
{
    QString lineName;
    // The device a call opens (a serial port or terminal); empty for a line that opens
    // none of its own (TAP over TCP).
    QString devicePath;
    // A modem, which dials the access number; a TCP line connects to it as host:port and
    // a direct link uses none.
    bool dialsNumbers = false;
};

// What the program reads of a call.
struct LineCallInfo
{
    std::uint32_t disconnectMode = 0; // as the call's LINECALLSTATE_DISCONNECTED said
    // For LINEDISCONNECTMODE_LOCALFAULT: what kept this side from placing the call, naming
    // the line device and the cause.
    QString localFault;
};

class ITelephony
{
public:
    virtual ~ITelephony() = default;

    virtual std::int32_t lineInitialize(
        LineAppHandle* app, LineCallbackProc callback, std::uint32_t* deviceCount)
        = 0;
    virtual std::int32_t lineNegotiateAPIVersion(LineAppHandle app, std::uint32_t device,
        std::uint32_t lowVersion, std::uint32_t highVersion, std::uint32_t* version,
        LineExtensionId* extension)
        = 0;
    virtual std::int32_t lineGetDevCaps(LineAppHandle app, std::uint32_t device,
        std::uint32_t version, std::uint32_t extVersion, LineDevCaps* caps)
        = 0;
    virtual std::int32_t lineOpen(LineAppHandle app, std::uint32_t device, LineHandle* line,
        std::uint32_t version, std::uint32_t extVersion, std::uintptr_t callbackInstance,
        std::uint32_t privileges, std::uint32_t mediaModes)
        = 0;
    // Result 0 or positive when the call is being placed; its progress arrives as events.
    virtual std::int32_t lineMakeCall(
        LineHandle line, CallHandle* call, const QString& destAddress, std::uint32_t countryCode)
        = 0;
    // For device class kDataModemClass: the data handle of a connected call, which the
    // caller owns from then on.
    virtual std::int32_t lineGetID(LineHandle line, std::uint32_t address, CallHandle call,
        std::uint32_t select, std::unique_ptr<CCommPort>* port, const QString& deviceClass)
        = 0;
    // What is known of a call, until it is deallocated.
    virtual std::int32_t lineGetCallInfo(CallHandle call, LineCallInfo* info) = 0;
    virtual std::int32_t lineAnswer(CallHandle call) = 0;
    virtual std::int32_t lineDrop(CallHandle call) = 0;
    virtual std::int32_t lineDeallocateCall(CallHandle call) = 0;
    virtual std::int32_t lineClose(LineHandle line) = 0;
    virtual std::int32_t lineShutdown(LineAppHandle app) = 0;
};

// The machine's line devices: the lines configured in the settings, then the serial
// ports no configured line names.
std::unique_ptr<ITelephony> CreateLineTelephony();
