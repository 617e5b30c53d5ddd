#include "modem/ModemConnection.h"

#include "platform/LogCategories.h"
#include "platform/telephony/LineFaults.h"

#include <QMetaObject>
#include <QThread>
#include <algorithm>
#include <chrono>
#include <utility>

namespace {

constexpr int kMaxDeallocateAttempts = 10;
// A write may wait 500 ms plus 500 ms a byte for room on the line, but never hold up
// the owner's thread for more than two seconds.
constexpr int kWriteBaseTimeoutMs = 500;
constexpr int kWritePerByteTimeoutMs = 500;
constexpr int kWriteLongestTimeoutMs = 2000;

} // namespace

CModemConnection::CModemConnection()
    : m_exchange(*this, *this)
{
    m_redialTimer.setSingleShot(true);
    m_redialTimer.setInterval(kRedialDelayMs);
    QObject::connect(&m_redialTimer, &QTimer::timeout, &m_context, [this] { RetryCall(); });
}

CModemConnection::~CModemConnection()
{
    StopReader();
    m_redialTimer.stop();
    if (m_pModemList && m_hCall != 0) {
        m_pModemList->Telephony().lineDrop(m_hCall);
        m_pModemList->Telephony().lineDeallocateCall(m_hCall);
        m_hCall = 0;
    }
    if (m_pPort || m_bLineOpen)
        CloseLine();
}

std::int32_t CModemConnection::OpenLine(
    CModemList& modems, int device, IModemConnectionOwner* owner)
{
    if (device < 0)
        return 0;
    m_bStopReader = false;
    m_exchange.SetState(TapState::Dialling);

    m_pOwner = owner;
    m_nDevice = device;
    m_pModemList = &modems;
    m_hLineApp = modems.AppHandle();

    const auto deviceNumber = static_cast<std::uint32_t>(device);
    modems.NegotiateVersion(deviceNumber);
    LineHandle line = 0;
    const std::int32_t result = modems.Telephony().lineOpen(modems.AppHandle(), deviceNumber, &line,
        modems.ApiVersion(), 0, reinterpret_cast<std::uintptr_t>(this), LINECALLPRIVILEGE_OWNER,
        LINEMEDIAMODE_DATAMODEM);
    if (result < 0) {
        qCWarning(lcLine, "Cannot open line device %d (%s): %s (0x%08x)", device,
            qUtf8Printable(modems.DeviceName(device)), LineErrorName(result),
            static_cast<unsigned>(result));
        modems.Telephony().lineClose(line);
        return result;
    }
    m_hLine = line;
    m_bLineOpen = true;
    m_hLineApp = modems.TakeAppHandle();
    m_bOwnsLineApp = true;
    return result;
}

bool CModemConnection::LineDialsNumbers() const
{
    if (!m_bLineOpen || !m_pModemList)
        return false;
    LineDevCaps caps;
    return m_pModemList->Telephony().lineGetDevCaps(m_hLineApp,
               static_cast<std::uint32_t>(m_nDevice), m_pModemList->ApiVersion(), 0, &caps)
        >= 0
        && caps.dialsNumbers;
}

std::int32_t CModemConnection::PlaceCall(const QString& accessNumber)
{
    m_bAnswered = false;
    m_bHungUp = false;
    m_exchange.SetState(TapState::Dialling);
    m_strAccessNumber = accessNumber;
    m_strLocalFault.clear();
    if (!m_bLineOpen || !m_pModemList)
        return LINEERR_INVALLINEHANDLE;
    // The second attempt comes from the owner's event loop, so the window keeps
    // running during the pause; hanging up or closing cancels it.
    if (MakeCall() < 0)
        m_redialTimer.start();
    return 0;
}

QString CModemConnection::LineName() const
{
    return m_pModemList ? m_pModemList->DeviceName(m_nDevice) : QString();
}

void CModemConnection::RetryCall()
{
    const std::int32_t result = MakeCall();
    if (result >= 0)
        return;
    // The line interface refused the call twice: nothing was dialled.
    m_strLocalFault = LineCallFault(LineName(), QString::fromLatin1(LineErrorName(result)));
    qCWarning(
        lcLine, "%s (0x%08x)", qUtf8Printable(m_strLocalFault), static_cast<unsigned>(result));
    PostLineFailed(kLineFailedLocalFault);
}

std::int32_t CModemConnection::MakeCall()
{
    if (!m_bLineOpen || !m_pModemList)
        return LINEERR_INVALLINEHANDLE;
    CallHandle call = 0;
    const std::int32_t result
        = m_pModemList->Telephony().lineMakeCall(m_hLine, &call, m_strAccessNumber, 0);
    if (result >= 0)
        m_hCall = call;
    return result;
}

void CModemConnection::LineCallback(std::uint32_t hDevice, std::uint32_t message,
    std::uintptr_t callbackInstance, std::uintptr_t param1, std::uintptr_t param2,
    std::uintptr_t /*param3*/)
{
    auto* connection = reinterpret_cast<CModemConnection*>(callbackInstance);
    if (!connection)
        return;
    if (message == LINE_CALLSTATE)
        connection->OnLineCallState(
            hDevice, static_cast<std::uint32_t>(param1), static_cast<std::uint32_t>(param2));
    else if (message == LINE_LINEDEVSTATE && param1 == LINEDEVSTATE_RINGING)
        connection->OnCallOffered(hDevice);
}

void CModemConnection::OnLineCallState(
    std::uint32_t hDevice, std::uint32_t state, std::uint32_t mode)
{
    switch (state) {
    case LINECALLSTATE_CONNECTED:
        OnCallConnected();
        break;
    case LINECALLSTATE_BUSY:
        PostLineFailed(kLineFailedBusyOrDropped);
        break;
    case LINECALLSTATE_DISCONNECTED:
        if (mode == LINEDISCONNECTMODE_LOCALFAULT)
            OnLocalFault(hDevice);
        else
            OnCallDisconnected();
        break;
    case LINECALLSTATE_IDLE:
        DeallocateIdleCall();
        break;
    case LINECALLSTATE_OFFERING:
        OnCallOffered(hDevice);
        break;
    default:
        break;
    }
}

void CModemConnection::OnCallConnected()
{
    if (m_bHungUp || m_pPort || !m_pModemList)
        return;
    std::unique_ptr<CCommPort> port;
    const std::int32_t result = m_pModemList->Telephony().lineGetID(
        m_hLine, 0, m_hCall, LINECALLSELECT_CALL, &port, kDataModemClass);
    if (result < 0 || !port) {
        // Connected, but with no way to the data: the attempt fails at once rather
        // than waiting for the owner's time-out.
        qCWarning(lcLine, "The call is connected, but its data cannot be reached: %s (0x%08x)",
            LineErrorName(result), static_cast<unsigned>(result));
        PostLineFailed(kLineFailedBusyOrDropped);
        return;
    }
    m_pPort = std::move(port);
    m_bWriteFailed = false;
    m_exchange.SetState(TapState::Connected);
    StartReader();
    PostLineConnected();
}

void CModemConnection::OnCallDisconnected()
{
    if (m_exchange.State() == TapState::Connected || m_bAnswered) {
        PostLineFailed(kLineFailedBeforeExchange);
        HangUp();
        return;
    }
    // During the exchange, what the terminal said before the line went (often the ACK
    // of the last block, read together with the modem's NO CARRIER) reaches the
    // exchange before the failure does, so an accepted page is never counted as a
    // failed attempt.
    if (m_pPort)
        StopReaderKeepingReceived();
    PostLineFailed(kLineFailedBusyOrDropped);
}

void CModemConnection::OnLocalFault(CallHandle call)
{
    LineCallInfo info;
    if (m_pModemList && m_pModemList->Telephony().lineGetCallInfo(call, &info) >= 0)
        m_strLocalFault = info.localFault;
    if (m_strLocalFault.isEmpty())
        m_strLocalFault
            = LineCallFault(LineName(), QStringLiteral("the line interface does not say why"));
    PostLineFailed(kLineFailedLocalFault);
}

void CModemConnection::OnCallOffered(CallHandle call)
{
    if (!m_pModemList)
        return;
    // Only a handle the line interface accepts as a call becomes this connection's
    // call; anything else would leave the real call without an owner.
    if (m_pModemList->Telephony().lineAnswer(call) >= 0) {
        m_bAnswered = true;
        m_hCall = call;
    }
}

void CModemConnection::DeallocateIdleCall()
{
    if (!m_pModemList || m_hCall == 0)
        return;
    for (int attempt = 0; attempt < kMaxDeallocateAttempts; ++attempt) {
        const std::int32_t result = m_pModemList->Telephony().lineDeallocateCall(m_hCall);
        if (result != LINEERR_INVALCALLSTATE)
            break;
    }
    m_hCall = 0;
}

void CModemConnection::PostLineConnected()
{
    const auto wParam = static_cast<std::uintptr_t>(m_nDevice);
    QMetaObject::invokeMethod(
        &m_context,
        [this, wParam] {
            if (m_pOwner)
                m_pOwner->OnLineConnected(wParam);
        },
        Qt::QueuedConnection);
}

void CModemConnection::PostLineFailed(std::intptr_t lParam)
{
    const auto wParam = static_cast<std::uintptr_t>(m_nDevice);
    QMetaObject::invokeMethod(
        &m_context,
        [this, wParam, lParam] {
            if (m_pOwner)
                m_pOwner->OnLineFailed(wParam, lParam);
        },
        Qt::QueuedConnection);
}

void CModemConnection::StartReader()
{
    if (m_readerThread.joinable() || !m_pPort)
        return;
    m_nBufferIndex = 0;
    m_bStopReader = false;
    const std::uint64_t generation = ++m_readerGeneration;
    m_readerThread = std::thread([this, generation] { ReaderThread(generation); });
}

void CModemConnection::ReaderThread(std::uint64_t generation)
{
    // The port is set before the reader starts and not replaced until it is joined.
    CCommPort* port = m_pPort.get();
    while (!m_bStopReader.load()) {
        // While the owner's thread has not taken what is queued, further bytes wait in the
        // line's buffers, where flow control can hold the terminal back.
        const std::int64_t room = kMostQueuedBytes - m_nQueuedBytes.load();
        if (room <= 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(kReadTimeoutMs));
            continue;
        }
        char* buffer = m_receiveBuffers[static_cast<std::size_t>(m_nBufferIndex)].data();
        const int most = static_cast<int>(std::min<std::int64_t>(kMaxRead, room));
        const CCommPort::ReadResult result = port->Read(buffer, most, kReadTimeoutMs);
        if (result.status == CCommPort::ReadStatus::Closed) {
            // The line has gone; the line interface reports it. Idle at the polling
            // pace rather than spinning on a dead descriptor.
            std::this_thread::sleep_for(std::chrono::milliseconds(kReadTimeoutMs));
            continue;
        }
        if (result.count <= 0)
            continue;
        buffer[result.count] = 0;
        HandOverChunk(QByteArray(buffer, result.count), generation);
        m_nBufferIndex = (m_nBufferIndex + 1) % kReceiveBuffers;
        m_receiveBuffers[static_cast<std::size_t>(m_nBufferIndex)].fill(0);
    }
}

void CModemConnection::HandOverChunk(QByteArray chunk, std::uint64_t generation)
{
    // The one place where received bytes cross from the reader to the owner's thread.
    // The exchange parses there, so it needs no lock; a chunk of a reader that has
    // been stopped since is dropped. Zero bytes are line noise and are left out one by
    // one: the bytes around them, an ACK after a burst of them say, still count.
    chunk.removeIf([](char byte) { return byte == '\0'; });
    if (chunk.isEmpty())
        return;
    m_nQueuedBytes += chunk.size();
    QMetaObject::invokeMethod(
        &m_context,
        [this, chunk = std::move(chunk), generation] {
            m_nQueuedBytes -= chunk.size();
            if (generation != m_readerGeneration.load())
                return;
            m_exchange.OnReceived(static_cast<std::int32_t>(chunk.size()), chunk.constData());
        },
        Qt::QueuedConnection);
}

void CModemConnection::StopReaderKeepingReceived()
{
    m_bStopReader = true;
    if (m_readerThread.joinable())
        m_readerThread.join();
    if (!m_pPort)
        return;
    // The reader is gone; bytes still waiting on the line are handed over as its last
    // chunks, under its generation, ahead of anything queued from here on.
    const std::uint64_t generation = m_readerGeneration.load();
    std::array<char, kReceiveBufferSize> buffer {};
    for (int reads = 0; reads < kReceiveBuffers; ++reads) {
        const CCommPort::ReadResult result = m_pPort->Read(buffer.data(), kMaxRead, 0);
        if (result.status != CCommPort::ReadStatus::Data || result.count <= 0)
            break;
        HandOverChunk(QByteArray(buffer.data(), result.count), generation);
    }
}

void CModemConnection::StopReader()
{
    m_bStopReader = true;
    ++m_readerGeneration;
    // The reader never waits for the owner's thread, so joining it cannot deadlock,
    // not even from inside a notification; it notices the flag within one read.
    if (m_readerThread.joinable())
        m_readerThread.join();
}

bool CModemConnection::SetPortFraming(char parity, int dataBits, int stopBits)
{
    if (!m_pPort)
        return false;
    return m_pPort->SetMode(FormatCommMode(parity, dataBits, stopBits));
}

void CModemConnection::WriteText(const QByteArray& text)
{
    if (!m_pPort || m_bWriteFailed)
        return;
    const qsizetype zero = text.indexOf('\0');
    const int count = static_cast<int>(zero < 0 ? text.size() : zero);
    if (count == 0)
        return;
    const int timeoutMs = static_cast<int>(std::min<qint64>(
        kWriteBaseTimeoutMs + qint64(kWritePerByteTimeoutMs) * count, kWriteLongestTimeoutMs));
    const int written = m_pPort->Write(text.constData(), count, timeoutMs);
    if (written == count)
        return;
    // The terminal now waits for the rest of a block or sequence, and would take
    // whatever is written next as that rest. The call is given up as a dropped one: the
    // owner closes it and counts the attempt rather than waiting for its time-out.
    qCWarning(lcLine, "The call is given up: %d of %d bytes went out", written, count);
    m_bWriteFailed = true;
    PostLineFailed(kLineFailedBusyOrDropped);
}

void CModemConnection::HangUp()
{
    StopReader();
    m_redialTimer.stop();
    m_bHungUp = true;
    if (m_pPort)
        m_pPort->Purge();
    if (m_pModemList && m_hCall != 0) {
        ITelephony& telephony = m_pModemList->Telephony();
        telephony.lineDrop(m_hCall);
        if (telephony.lineDeallocateCall(m_hCall) >= 0)
            m_hCall = 0;
    }
    QThread::msleep(static_cast<unsigned long>(m_nHangUpPauseMs));
}

void CModemConnection::CloseLine()
{
    StopReader();
    m_redialTimer.stop();
    if (m_pPort) {
        m_pPort->Close();
        m_pPort.reset();
    }
    if (m_pModemList) {
        ITelephony& telephony = m_pModemList->Telephony();
        if (m_bLineOpen)
            telephony.lineClose(m_hLine);
        m_bLineOpen = false;
        if (std::exchange(m_bOwnsLineApp, false))
            telephony.lineShutdown(m_hLineApp);
    }
    // Nothing queued for the owner reaches it once its line is closed: a line event
    // posted just before would otherwise give a finished send a second verdict.
    m_pOwner = nullptr;
}

void CModemConnection::OnTapAccepted()
{
    if (m_pOwner)
        m_pOwner->OnTapAccepted();
}

void CModemConnection::OnTapRefused()
{
    if (m_pOwner)
        m_pOwner->OnTapRefused();
}

void CModemConnection::OnTapEnded(bool acceptedFirst)
{
    if (m_pOwner)
        m_pOwner->OnTapEnded(acceptedFirst);
}

void CModemConnection::OnTapTerminalLine(const QString& line)
{
    if (m_pOwner)
        m_pOwner->OnTapTerminalLine(line);
}
