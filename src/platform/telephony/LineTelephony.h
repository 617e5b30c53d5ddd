#pragma once

#include "platform/telephony/LineCall.h"
#include "platform/telephony/LineDevices.h"
#include "platform/telephony/Telephony.h"

#include <QList>
#include <QObject>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

class CDeviceWorker;

// The machine's line devices behind the line interface. Every call of the interface
// is made on the thread that created this object, and events are delivered there
// through its event loop. Dialling and hanging up talk to the device on a worker
// thread per device, one job after the other, so a new call on a modem waits for the
// previous hang-up to finish and the caller's thread never waits for a modem.
//
// Events carry the call handle as hDevice, LINE_LINEDEVSTATE/LINEDEVSTATE_RINGING
// included: the modem offered a call, which lineAnswer on that handle takes.
class CLineTelephony final : public ITelephony
{
public:
    explicit CLineTelephony(std::function<QList<LineDevice>()> loadDevices = LoadLineDevices);
    ~CLineTelephony() override;
    CLineTelephony(const CLineTelephony&) = delete;
    CLineTelephony& operator=(const CLineTelephony&) = delete;

    std::int32_t lineInitialize(
        LineAppHandle* app, LineCallbackProc callback, std::uint32_t* deviceCount) override;
    std::int32_t lineNegotiateAPIVersion(LineAppHandle app, std::uint32_t device,
        std::uint32_t lowVersion, std::uint32_t highVersion, std::uint32_t* version,
        LineExtensionId* extension) override;
    std::int32_t lineGetDevCaps(LineAppHandle app, std::uint32_t device, std::uint32_t version,
        std::uint32_t extVersion, LineDevCaps* caps) override;
    std::int32_t lineOpen(LineAppHandle app, std::uint32_t device, LineHandle* line,
        std::uint32_t version, std::uint32_t extVersion, std::uintptr_t callbackInstance,
        std::uint32_t privileges, std::uint32_t mediaModes) override;
    std::int32_t lineMakeCall(LineHandle line, CallHandle* call, const QString& destAddress,
        std::uint32_t countryCode) override;
    std::int32_t lineGetID(LineHandle line, std::uint32_t address, CallHandle call,
        std::uint32_t select, std::unique_ptr<CCommPort>* port,
        const QString& deviceClass) override;
    std::int32_t lineGetCallInfo(CallHandle call, LineCallInfo* info) override;
    std::int32_t lineAnswer(CallHandle call) override;
    std::int32_t lineDrop(CallHandle call) override;
    std::int32_t lineDeallocateCall(CallHandle call) override;
    std::int32_t lineClose(LineHandle line) override;
    std::int32_t lineShutdown(LineAppHandle app) override;

private:
    struct App
    {
        LineCallbackProc callback = nullptr;
        QList<LineDevice> devices;
    };
    struct Line
    {
        LineAppHandle app = 0;
        std::uintptr_t instance = 0;
        LineDevice device;
    };
    // Where workers and readers post events; emptied when this object goes, so a
    // late event from another thread is dropped.
    struct EventSink
    {
        std::mutex mutex;
        QObject* context = nullptr;
    };

    const LineDevice* FindDevice(
        LineAppHandle app, std::uint32_t device, std::int32_t* error) const;
    CallEventPoster PosterFor(CallHandle call);
    void Deliver(
        CallHandle call, std::uint32_t message, std::uint32_t param1, std::uint32_t param2);
    void StartDrop(const std::shared_ptr<LineCall>& call);
    CDeviceWorker& WorkerFor(const LineDevice& device);
    void WatchConnectedCalls();
    void ReportLoss(LineCall& call);

    std::function<QList<LineDevice>()> m_loadDevices;
    std::unique_ptr<QObject> m_context;
    std::shared_ptr<EventSink> m_sink;
    std::map<LineAppHandle, App> m_apps;
    std::map<LineHandle, Line> m_lines;
    std::map<CallHandle, std::shared_ptr<LineCall>> m_calls;
    std::map<QString, std::unique_ptr<CDeviceWorker>> m_workers;
    std::uint32_t m_nextHandle = 1;
};
