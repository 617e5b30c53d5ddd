#include "platform/telephony/LineTelephony.h"

#include "platform/LogCategories.h"
#include "platform/telephony/DeviceWorker.h"

#include <QFileInfo>
#include <QMetaObject>
#include <QTimer>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

constexpr int kCarrierCheckMs = 250;
// The state of a call being placed, before the device reports on it.
constexpr std::uint32_t kCallDialling = 0x10;

bool IsActiveState(std::uint32_t state)
{
    return state != LINECALLSTATE_IDLE && state != LINECALLSTATE_DISCONNECTED;
}

// A serial modem reports carrier loss on DCD; only a port that showed DCD once is
// trusted to report it.
enum class Carrier
{
    Unknown,
    On,
    Off
};

Carrier ReadCarrier(int fd)
{
    int bits = 0;
    if (ioctl(fd, TIOCMGET, &bits) != 0)
        return Carrier::Unknown;
    return (bits & TIOCM_CAR) ? Carrier::On : Carrier::Off;
}

bool PeerHasGone(int fd)
{
    pollfd watch = { fd, POLLRDHUP, 0 };
    return poll(&watch, 1, 0) > 0 && (watch.revents & (POLLHUP | POLLRDHUP | POLLERR | POLLNVAL));
}

} // namespace

std::unique_ptr<ITelephony> CreateLineTelephony()
{
    return std::make_unique<CLineTelephony>();
}

CLineTelephony::CLineTelephony(std::function<QList<LineDevice>()> loadDevices)
    : m_loadDevices(std::move(loadDevices))
    , m_context(std::make_unique<QObject>())
    , m_sink(std::make_shared<EventSink>())
{
    m_sink->context = m_context.get();
    auto* carrierTimer = new QTimer(m_context.get());
    carrierTimer->setInterval(kCarrierCheckMs);
    QObject::connect(
        carrierTimer, &QTimer::timeout, m_context.get(), [this] { WatchConnectedCalls(); });
    carrierTimer->start();
}

CLineTelephony::~CLineTelephony()
{
    {
        std::lock_guard lock(m_sink->mutex);
        m_sink->context = nullptr;
    }
    // Dialling stops at once; a connected modem is hung up quickly, and closing the
    // port drops DTR on a real one.
    for (auto& [handle, call] : m_calls)
        call->stopping = true;
    while (!m_lines.empty())
        lineClose(m_lines.begin()->first);
    m_workers.clear();
}

const LineDevice* CLineTelephony::FindDevice(
    LineAppHandle app, std::uint32_t device, std::int32_t* error) const
{
    const auto found = m_apps.find(app);
    if (found == m_apps.end()) {
        *error = LINEERR_INVALAPPHANDLE;
        return nullptr;
    }
    if (device >= static_cast<std::uint32_t>(found->second.devices.size())) {
        *error = LINEERR_BADDEVICEID;
        return nullptr;
    }
    *error = 0;
    return &found->second.devices[static_cast<qsizetype>(device)];
}

std::int32_t CLineTelephony::lineInitialize(
    LineAppHandle* app, LineCallbackProc callback, std::uint32_t* deviceCount)
{
    if (!app || !deviceCount)
        return LINEERR_INVALPOINTER;
    App state;
    state.callback = callback;
    state.devices = m_loadDevices ? m_loadDevices() : QList<LineDevice>();
    const LineAppHandle handle = m_nextHandle++;
    *deviceCount = static_cast<std::uint32_t>(state.devices.size());
    m_apps.emplace(handle, std::move(state));
    *app = handle;
    return 0;
}

std::int32_t CLineTelephony::lineNegotiateAPIVersion(LineAppHandle app, std::uint32_t device,
    std::uint32_t lowVersion, std::uint32_t highVersion, std::uint32_t* version,
    LineExtensionId* extension)
{
    std::int32_t error = 0;
    if (!FindDevice(app, device, &error))
        return error;
    if (!version)
        return LINEERR_INVALPOINTER;
    if (kLineApiVersion < lowVersion || kLineApiVersion > highVersion)
        return LINEERR_INCOMPATIBLEAPIVERSION;
    *version = kLineApiVersion;
    if (extension)
        *extension = LineExtensionId {};
    return 0;
}

std::int32_t CLineTelephony::lineGetDevCaps(LineAppHandle app, std::uint32_t device,
    std::uint32_t version, std::uint32_t /*extVersion*/, LineDevCaps* caps)
{
    std::int32_t error = 0;
    const LineDevice* found = FindDevice(app, device, &error);
    if (!found)
        return error;
    if (!caps)
        return LINEERR_INVALPOINTER;
    if (version != kLineApiVersion)
        return LINEERR_INCOMPATIBLEAPIVERSION;
    caps->lineName = found->name;
    caps->devicePath = found->kind == LineDevice::Kind::Tcp ? QString() : found->device;
    caps->dialsNumbers = found->kind == LineDevice::Kind::Hayes;
    return 0;
}

std::int32_t CLineTelephony::lineOpen(LineAppHandle app, std::uint32_t device, LineHandle* line,
    std::uint32_t version, std::uint32_t /*extVersion*/, std::uintptr_t callbackInstance,
    std::uint32_t /*privileges*/, std::uint32_t /*mediaModes*/)
{
    std::int32_t error = 0;
    const LineDevice* found = FindDevice(app, device, &error);
    if (!found)
        return error;
    if (!line)
        return LINEERR_INVALPOINTER;
    if (version != kLineApiVersion)
        return LINEERR_INCOMPATIBLEAPIVERSION;
    const LineHandle handle = m_nextHandle++;
    m_lines.emplace(handle, Line { app, callbackInstance, *found });
    *line = handle;
    return 0;
}

std::int32_t CLineTelephony::lineMakeCall(LineHandle line, CallHandle* call,
    const QString& destAddress, std::uint32_t /*countryCode*/)
{
    const auto found = m_lines.find(line);
    if (found == m_lines.end())
        return LINEERR_INVALLINEHANDLE;
    if (!call)
        return LINEERR_INVALPOINTER;
    for (const auto& [handle, existing] : m_calls) {
        if (existing->line == line && !existing->dropped && IsActiveState(existing->state))
            return LINEERR_RESOURCEUNAVAIL;
    }
    auto placed = std::make_shared<LineCall>();
    placed->handle = m_nextHandle++;
    placed->line = line;
    placed->device = found->second.device;
    placed->accessNumber = destAddress;
    placed->state = kCallDialling;
    m_calls.emplace(placed->handle, placed);
    *call = placed->handle;
    WorkerFor(placed->device).Enqueue([placed, post = PosterFor(placed->handle)] {
        RunCallDialogue(*placed, post);
    });
    return 0;
}

std::int32_t CLineTelephony::lineGetID(LineHandle line, std::uint32_t /*address*/, CallHandle call,
    std::uint32_t select, std::unique_ptr<CCommPort>* port, const QString& deviceClass)
{
    if (deviceClass != kDataModemClass)
        return LINEERR_INVALDEVICECLASS;
    if (!port)
        return LINEERR_INVALPOINTER;
    if (select != LINECALLSELECT_CALL)
        return LINEERR_OPERATIONFAILED;
    if (m_lines.find(line) == m_lines.end())
        return LINEERR_INVALLINEHANDLE;
    const auto found = m_calls.find(call);
    if (found == m_calls.end() || found->second->line != line)
        return LINEERR_INVALCALLHANDLE;
    const std::shared_ptr<LineCall>& connected = found->second;
    if (connected->dropped || connected->state != LINECALLSTATE_CONNECTED)
        return LINEERR_INVALCALLSTATE;
    const int fd = connected->fd.load();
    if (fd < 0)
        return LINEERR_OPERATIONFAILED;
    const int handle = fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (handle < 0) {
        qCWarning(lcLine, "Cannot hand over the data of the call on %s: %s",
            qUtf8Printable(connected->device.name), strerror(errno));
        return LINEERR_OPERATIONFAILED;
    }
    // The reader of the data handle sees what the modem says in data mode: its
    // "NO CARRIER" and the end of the stream mean the call is lost.
    std::weak_ptr<LineCall> watched = connected;
    CallEventPoster post = PosterFor(call);
    auto observer = [watched, post, tail = QByteArray("\n")](const char* bytes, int count) mutable {
        bool lost = count < 0;
        if (!lost) {
            const QByteArray seen = tail + QByteArray(bytes, count);
            lost = seen.contains("\nNO CARRIER") || seen.contains("\rNO CARRIER");
            tail = seen.right(12);
        }
        if (!lost)
            return;
        if (const std::shared_ptr<LineCall> lostCall = watched.lock()) {
            if (lostCall->inDataMode.exchange(false))
                post(LINE_CALLSTATE, LINECALLSTATE_DISCONNECTED, 0);
        }
    };
    *port = std::make_unique<CCommPort>(handle, std::move(observer));
    return 0;
}

std::int32_t CLineTelephony::lineGetCallInfo(CallHandle call, LineCallInfo* info)
{
    const auto found = m_calls.find(call);
    if (found == m_calls.end())
        return LINEERR_INVALCALLHANDLE;
    if (!info)
        return LINEERR_INVALPOINTER;
    const LineCall& known = *found->second;
    info->disconnectMode = known.disconnectMode;
    // The worker wrote the fault before posting the disconnection that set this mode.
    info->localFault
        = known.disconnectMode == LINEDISCONNECTMODE_LOCALFAULT ? known.localFault : QString();
    return 0;
}

std::int32_t CLineTelephony::lineAnswer(CallHandle call)
{
    const auto found = m_calls.find(call);
    if (found == m_calls.end())
        return LINEERR_INVALCALLHANDLE;
    LineCall& offered = *found->second;
    if (offered.dropped || !offered.incoming.load() || offered.state == LINECALLSTATE_CONNECTED)
        return LINEERR_INVALCALLSTATE;
    offered.answerRequested = true;
    return 0;
}

std::int32_t CLineTelephony::lineDrop(CallHandle call)
{
    const auto found = m_calls.find(call);
    if (found == m_calls.end())
        return LINEERR_INVALCALLHANDLE;
    StartDrop(found->second);
    return 0;
}

std::int32_t CLineTelephony::lineDeallocateCall(CallHandle call)
{
    const auto found = m_calls.find(call);
    if (found == m_calls.end())
        return LINEERR_INVALCALLHANDLE;
    if (!found->second->dropped && found->second->state != LINECALLSTATE_IDLE)
        return LINEERR_INVALCALLSTATE;
    // A hang-up still under way keeps its own reference and finishes.
    m_calls.erase(found);
    return 0;
}

std::int32_t CLineTelephony::lineClose(LineHandle line)
{
    const auto found = m_lines.find(line);
    if (found == m_lines.end())
        return LINEERR_INVALLINEHANDLE;
    for (auto it = m_calls.begin(); it != m_calls.end();) {
        if (it->second->line == line) {
            StartDrop(it->second);
            it = m_calls.erase(it);
        } else {
            ++it;
        }
    }
    m_lines.erase(found);
    return 0;
}

std::int32_t CLineTelephony::lineShutdown(LineAppHandle app)
{
    if (m_apps.find(app) == m_apps.end())
        return LINEERR_INVALAPPHANDLE;
    std::vector<LineHandle> owned;
    for (const auto& [handle, line] : m_lines) {
        if (line.app == app)
            owned.push_back(handle);
    }
    for (const LineHandle handle : owned)
        lineClose(handle);
    m_apps.erase(app);
    return 0;
}

void CLineTelephony::StartDrop(const std::shared_ptr<LineCall>& call)
{
    if (call->dropped)
        return;
    call->dropped = true;
    call->dropRequested = true;
    WorkerFor(call->device).Enqueue([call, post = PosterFor(call->handle)] {
        RunCallDrop(*call);
        post(LINE_CALLSTATE, LINECALLSTATE_IDLE, 0);
    });
}

CDeviceWorker& CLineTelephony::WorkerFor(const LineDevice& device)
{
    // Calls on one serial device take turns; every TCP line has its own worker.
    QString key;
    if (device.kind == LineDevice::Kind::Tcp) {
        key = QStringLiteral("tcp:") + device.name;
    } else {
        const QString canonical = QFileInfo(device.device).canonicalFilePath();
        key = canonical.isEmpty() ? device.device : canonical;
    }
    std::unique_ptr<CDeviceWorker>& worker = m_workers[key];
    if (!worker)
        worker = std::make_unique<CDeviceWorker>();
    return *worker;
}

CallEventPoster CLineTelephony::PosterFor(CallHandle call)
{
    std::shared_ptr<EventSink> sink = m_sink;
    return [this, sink, call](std::uint32_t message, std::uint32_t param1, std::uint32_t param2) {
        std::lock_guard lock(sink->mutex);
        if (!sink->context)
            return;
        QMetaObject::invokeMethod(
            sink->context,
            [this, call, message, param1, param2] { Deliver(call, message, param1, param2); },
            Qt::QueuedConnection);
    };
}

void CLineTelephony::Deliver(
    CallHandle call, std::uint32_t message, std::uint32_t param1, std::uint32_t param2)
{
    const auto found = m_calls.find(call);
    if (found == m_calls.end())
        return;
    LineCall& target = *found->second;
    const auto line = m_lines.find(target.line);
    if (line == m_lines.end())
        return;
    // After a drop only the call's end is reported.
    if (target.dropped && !(message == LINE_CALLSTATE && param1 == LINECALLSTATE_IDLE))
        return;
    if (message == LINE_CALLSTATE) {
        if (target.state == param1)
            return;
        target.state = param1;
        if (param1 == LINECALLSTATE_DISCONNECTED)
            target.disconnectMode = param2;
        if (param1 == LINECALLSTATE_CONNECTED && target.fd.load() >= 0)
            target.carrierSeen = ReadCarrier(target.fd.load()) == Carrier::On;
    }
    const auto app = m_apps.find(line->second.app);
    if (app == m_apps.end() || !app->second.callback)
        return;
    app->second.callback(call, message, line->second.instance, param1, param2, 0);
}

void CLineTelephony::WatchConnectedCalls()
{
    for (auto& [handle, call] : m_calls) {
        if (call->dropped || call->state != LINECALLSTATE_CONNECTED || !call->inDataMode.load())
            continue;
        const int fd = call->fd.load();
        if (fd < 0)
            continue;
        bool lost = PeerHasGone(fd);
        if (!lost && call->device.kind != LineDevice::Kind::Tcp) {
            const Carrier carrier = ReadCarrier(fd);
            if (carrier == Carrier::On)
                call->carrierSeen = true;
            lost = carrier == Carrier::Off && call->carrierSeen;
        }
        if (lost)
            ReportLoss(*call);
    }
}

void CLineTelephony::ReportLoss(LineCall& call)
{
    if (call.inDataMode.exchange(false))
        PosterFor(call.handle)(LINE_CALLSTATE, LINECALLSTATE_DISCONNECTED, 0);
}
