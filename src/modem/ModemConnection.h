#pragma once

#include "carrier/PageCall.h"
#include "modem/ModemList.h"
#include "platform/comm/CommPort.h"
#include "platform/telephony/Telephony.h"
#include "tap/TapExchange.h"

#include <QByteArray>
#include <QObject>
#include <QTimer>
#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>

// Messages from the modem connection to its owner, by their historical numbers.
inline constexpr std::uint32_t WM_LINE_CONNECTED = 0x501;
inline constexpr std::uint32_t WM_LINE_FAILED = 0x502;
inline constexpr std::uint32_t WM_TAP_REFUSED = 0x504;
inline constexpr std::uint32_t WM_TAP_ACCEPTED = 0x506;

// The owner of a connection is the send's page call owner: the line messages above
// arrive as its OnLineConnected and OnLineFailed (lParam kLineFailedBusyOrDropped,
// kLineFailedBeforeExchange or kLineFailedLocalFault), the exchange's verdicts as its
// OnTap... callbacks. The owner may hang up and close the line from inside any of them.
using IModemConnectionOwner = IPageCallOwner;

// One dial-out to a service provider: opens the selected line, places the data call,
// follows its state, reads the connected line on a thread of its own, writes to it,
// and hangs up. It holds the TAP exchange, which runs on the owner's thread: the
// reader only reads and queues each chunk to that thread, and stops reading while
// kMostQueuedBytes wait there, so a terminal flooding the line while the owner's thread
// is busy costs at most that much memory; the rest waits in the line's own buffers.
class CModemConnection final : private ITapLine, private ITapOwner
{
public:
    static constexpr int kReceiveBuffers = 32;
    static constexpr int kReceiveBufferSize = 2048;
    static constexpr int kMaxRead = 2046;
    static constexpr int kReadTimeoutMs = 20;
    static constexpr int kRedialDelayMs = 1000;
    static constexpr int kHangUpPauseMs = 500;
    static constexpr int kMostQueuedBytes = 64 * 1024;

    CModemConnection();
    ~CModemConnection() override;
    // The pause after dropping a call, which gives a modem time to go on hook; tests
    // over lines without one shorten it.
    void SetHangUpPause(int ms) { m_nHangUpPauseMs = ms; }
    CModemConnection(const CModemConnection&) = delete;
    CModemConnection& operator=(const CModemConnection&) = delete;

    // Opens the line of a device of the modem list; a negative device opens nothing
    // and gives 0. The result of the line interface otherwise (negative on failure).
    std::int32_t OpenLine(CModemList& modems, int device, IModemConnectionOwner* owner);
    // Whether the open line is a modem, which dials the access number (a TCP line
    // connects to host:port, a direct link dials nothing); false when no line is open.
    bool LineDialsNumbers() const;
    // Dials the access number exactly as given; a failed attempt is repeated once,
    // 1000 ms later, without holding up the caller, and should that fail too the owner
    // hears kLineFailedLocalFault. LINEERR_INVALLINEHANDLE when no line is open, else 0.
    std::int32_t PlaceCall(const QString& accessNumber);
    // The callback given to the line interface; the instance is the connection.
    static void LineCallback(std::uint32_t hDevice, std::uint32_t message,
        std::uintptr_t callbackInstance, std::uintptr_t param1, std::uintptr_t param2,
        std::uintptr_t param3);

    // Frames the connected port from the provider's parity letter, data bits and stop
    // bits; false when the port is not connected or refused the framing.
    bool SetPortFraming(char parity, int dataBits, int stopBits);
    // Writes the bytes up to the first zero byte, in one write. Should they not all go
    // out, the owner hears that the line failed and nothing more is written on the call.
    void WriteText(const QByteArray& text) override;
    // Stops the reader (after this no received byte reaches the exchange), purges the
    // port and drops the call.
    void HangUp();
    // Closes the data handle and the line and shuts the line interface down.
    void CloseLine();

    CTapExchange& Exchange() { return m_exchange; }
    const CTapExchange& Exchange() const { return m_exchange; }
    bool IsLineOpen() const { return m_bLineOpen; }
    bool IsConnected() const { return m_pPort != nullptr; }
    // Why this side could not place the call, naming the line device, once the owner has
    // been told kLineFailedLocalFault; empty before.
    const QString& LocalFault() const { return m_strLocalFault; }
    // Bytes read from the line and queued to the owner's thread, not yet handed to the
    // exchange; never more than kMostQueuedBytes while the reader runs.
    std::int64_t QueuedBytes() const { return m_nQueuedBytes.load(); }

private:
    void OnLineCallState(std::uint32_t hDevice, std::uint32_t state, std::uint32_t mode);
    void OnLocalFault(CallHandle call);
    void RetryCall();
    QString LineName() const;
    void OnCallConnected();
    void OnCallDisconnected();
    void OnCallOffered(CallHandle call);
    void DeallocateIdleCall();
    std::int32_t MakeCall();
    void PostLineConnected();
    void PostLineFailed(std::intptr_t lParam);

    void StartReader();
    void ReaderThread(std::uint64_t generation);
    void StopReader();
    // Stops the reader without dropping what it already read.
    void StopReaderKeepingReceived();
    void HandOverChunk(QByteArray chunk, std::uint64_t generation);

    void OnTapAccepted() override;
    void OnTapRefused() override;
    void OnTapEnded(bool acceptedFirst) override;
    void OnTapTerminalLine(const QString& line) override;

    CTapExchange m_exchange;
    std::atomic<bool> m_bStopReader { false };
    std::array<std::array<char, kReceiveBufferSize>, kReceiveBuffers> m_receiveBuffers {};
    int m_nBufferIndex = 0;
    bool m_bAnswered = false;
    // Set by HangUp, cleared by PlaceCall: a connection reported for a call that has
    // been hung up meanwhile is not taken.
    bool m_bHungUp = false;
    // Set when a write fell short; cleared when a call connects.
    bool m_bWriteFailed = false;
    std::thread m_readerThread;
    // Chunks and line events queued for a reader or a line that has since ended are
    // recognised by their generation and dropped.
    std::atomic<std::uint64_t> m_readerGeneration { 0 };
    std::atomic<std::int64_t> m_nQueuedBytes { 0 };
    int m_nDevice = -1;
    IModemConnectionOwner* m_pOwner = nullptr;
    CModemList* m_pModemList = nullptr;
    // The application handle the line was opened under; a discovery run meanwhile
    // (the modem dialog) gives the list a newer one, which is not this line's to end.
    LineAppHandle m_hLineApp = 0;
    // Set once the line is open under m_hLineApp, which is then this connection's to
    // shut down.
    bool m_bOwnsLineApp = false;
    LineHandle m_hLine = 0;
    bool m_bLineOpen = false;
    CallHandle m_hCall = 0;
    QString m_strAccessNumber;
    QString m_strLocalFault;
    std::unique_ptr<CCommPort> m_pPort;
    // Everything queued to the owner's thread is tied to this object, so nothing
    // queued runs after the connection is gone.
    QObject m_context;
    int m_nHangUpPauseMs = kHangUpPauseMs;
    QTimer m_redialTimer;
};
