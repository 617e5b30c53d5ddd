#include "platform/telephony/LineCall.h"

#include "platform/LogCategories.h"
#include "platform/comm/CommPort.h"
#include "platform/telephony/DialString.h"
#include "platform/telephony/LineFaults.h"
#include "platform/telephony/ModemDialogue.h"

#include <QtGlobal>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <optional>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr int kInitTimeoutMs = 5000;
constexpr int kAnswerWaitMs = 15000;
constexpr int kConnectTimeoutMs = 20000;
constexpr int kGuardTimeMs = 1100;
constexpr int kEscapeReplyMs = 3000;
constexpr int kHangUpReplyMs = 3000;
constexpr int kDtrLowMs = 1000;

bool Cancelled(const LineCall& call)
{
    return call.dropRequested.load() || call.stopping.load();
}

// Puts a serial device into raw mode at a speed; why it could not, or nothing.
std::optional<QByteArray> RawModeFailure(int fd, int speed)
{
    termios settings = {};
    if (tcgetattr(fd, &settings) != 0)
        return QByteArray(strerror(errno));
    if (!MakeRawSettings(settings, speed))
        return QByteArray("the speed is not one a serial port offers");
    if (tcsetattr(fd, TCSANOW, &settings) != 0)
        return QByteArray(strerror(errno));
    return std::nullopt;
}

// The descriptor of the serial device, set up; or -1, and `fault` says why.
int OpenSerialDevice(const LineDevice& device, QString* fault)
{
    const QByteArray path = device.device.toLocal8Bit();
    const int fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const char* cause = strerror(errno);
        qCWarning(lcLine, "Cannot open line device %s: %s", path.constData(), cause);
        *fault = LineOpenFault(device.name, device.device + ": " + QString::fromLocal8Bit(cause));
        return -1;
    }
    if (const std::optional<QByteArray> failure = RawModeFailure(fd, device.speed)) {
        qCWarning(lcLine, "Cannot set up line device %s at %d bit/s: %s", path.constData(),
            device.speed, failure->constData());
        *fault = LineSetUpFault(device.name,
            QStringLiteral("%1 at %2 bit/s: %3")
                .arg(device.device)
                .arg(device.speed)
                .arg(QString::fromLocal8Bit(*failure)));
        ::close(fd);
        return -1;
    }
    // Raise DTR in case an earlier hang-up left it low; a pseudo-terminal has no DTR.
    int dtr = TIOCM_DTR;
    if (ioctl(fd, TIOCMBIS, &dtr) != 0)
        qCDebug(
            lcLine, "Line device %s has no DTR to raise: %s", path.constData(), strerror(errno));
    if (tcflush(fd, TCIOFLUSH) != 0)
        qCWarning(lcLine, "Cannot discard what waits on line device %s: %s", path.constData(),
            strerror(errno));
    return fd;
}

// Waits for a connect under way: 0 once connected, otherwise why not (ETIMEDOUT after
// kConnectTimeoutMs, ECANCELED when the call is dropped meanwhile).
int AwaitConnection(int fd, const LineCall& call)
{
    for (int waited = 0; waited < kConnectTimeoutMs; waited += 50) {
        if (Cancelled(call))
            return ECANCELED;
        pollfd watch = { fd, POLLOUT, 0 };
        if (poll(&watch, 1, 50) <= 0)
            continue;
        int error = 0;
        socklen_t length = sizeof error;
        // A socket that cannot tell how its connect ended is not taken as connected.
        if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
            return errno;
        return error;
    }
    return ETIMEDOUT;
}

// A connected socket to one address of the access number, or -1.
int ConnectTo(const addrinfo& address, const QString& accessNumber, const LineCall& call)
{
    const int fd = socket(
        address.ai_family, address.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, address.ai_protocol);
    if (fd < 0) {
        qCWarning(lcLine, "Cannot open a socket for %s: %s", qUtf8Printable(accessNumber),
            strerror(errno));
        return -1;
    }
    int error = connect(fd, address.ai_addr, address.ai_addrlen) == 0 ? 0 : errno;
    if (error == EINPROGRESS)
        error = AwaitConnection(fd, call);
    if (error == 0)
        return fd;
    if (error != ECANCELED)
        qCWarning(
            lcLine, "Cannot connect to %s: %s", qUtf8Printable(accessNumber), strerror(error));
    ::close(fd);
    return -1;
}

int ConnectTcp(const QString& accessNumber, const LineCall& call)
{
    const std::optional<TcpAddress> address = ParseTcpAddress(accessNumber);
    if (!address) {
        qCWarning(
            lcLine, "The access number \"%s\" is not host:port", qUtf8Printable(accessNumber));
        return -1;
    }
    addrinfo hints = {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const QByteArray host = address->host.toUtf8();
    const QByteArray port = QByteArray::number(address->port);
    if (const int failed = getaddrinfo(host.constData(), port.constData(), &hints, &found)) {
        qCWarning(lcLine, "Cannot find %s: %s", host.constData(),
            failed == EAI_SYSTEM ? strerror(errno) : gai_strerror(failed));
        return -1;
    }
    int fd = -1;
    for (addrinfo* candidate = found; candidate && fd < 0 && !Cancelled(call);
         candidate = candidate->ai_next)
        fd = ConnectTo(*candidate, accessNumber, call);
    freeaddrinfo(found);
    // Without it a short reply may wait for more; the call works either way.
    int on = 1;
    if (fd >= 0 && setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) != 0)
        qCWarning(
            lcLine, "Cannot send at once on %s: %s", qUtf8Printable(accessNumber), strerror(errno));
    return fd;
}

std::uint32_t CallStateFor(ModemReply reply)
{
    switch (reply) {
    case ModemReply::Connect:
        return LINECALLSTATE_CONNECTED;
    case ModemReply::Busy:
        return LINECALLSTATE_BUSY;
    default:
        return LINECALLSTATE_DISCONNECTED;
    }
}

// A modem offered a call: report it as ringing and answer it if asked in time.
ModemReply AnswerOfferedCall(LineCall& call, CModemDialogue& modem, const CallEventPoster& post)
{
    call.incoming = true;
    post(LINE_LINEDEVSTATE, LINEDEVSTATE_RINGING, 0);
    for (int waited = 0; waited < kAnswerWaitMs && !call.answerRequested.load(); waited += 50) {
        if (Cancelled(call))
            return ModemReply::None;
        modem.Idle(50);
    }
    if (!call.answerRequested.load())
        return ModemReply::NoAnswer;
    modem.Discard();
    modem.Send("ATA");
    ModemReply reply = ModemReply::None;
    for (int rings = 0; rings < 10; ++rings) {
        reply = modem.WaitForReply(call.device.dialTimeoutMs);
        if (reply != ModemReply::Ring)
            break;
    }
    return reply;
}

// Why a modem did not take its init command, as the operator is told.
QString InitFailure(const QByteArray& init, ModemReply reply)
{
    const QString command = QString::fromLatin1(init);
    switch (reply) {
    case ModemReply::None:
        return QStringLiteral("no reply to %1 within %2 seconds")
            .arg(command)
            .arg(kInitTimeoutMs / 1000);
    case ModemReply::Error:
        return QStringLiteral("%1 was answered with ERROR").arg(command);
    case ModemReply::Lost:
        return QStringLiteral("the device closed after %1").arg(command);
    default:
        return QStringLiteral("%1 was not answered with OK").arg(command);
    }
}

ModemReply DialHayes(LineCall& call, CModemDialogue& modem, const CallEventPoster& post)
{
    if (!call.device.init.isEmpty()) {
        modem.Send(call.device.init);
        const ModemReply reply = modem.WaitForReply(kInitTimeoutMs);
        if (reply == ModemReply::Ring)
            return AnswerOfferedCall(call, modem, post);
        if (reply != ModemReply::Ok) {
            // Nothing has been dialled yet: the modem is at fault, not the far end.
            call.localFault
                = ModemCommandFault(call.device.name, InitFailure(call.device.init, reply));
            qCWarning(lcLine, "%s", qUtf8Printable(call.localFault));
            return reply;
        }
    }
    const DialString dial = ReadDialString(call.accessNumber);
    if (dial.dialled.isEmpty()) {
        // Nothing is dialled: the stored number is at fault, not the far end.
        call.localFault = LineCallFault(call.device.name,
            dial.refused.isEmpty()
                ? QStringLiteral("the access number is empty")
                : QStringLiteral("the access number holds %1, which cannot be dialled")
                      .arg(DialCharacterName(dial.refused)));
        qCWarning(lcLine, "%s", qUtf8Printable(call.localFault));
        return ModemReply::Error;
    }
    modem.Send("ATDT" + dial.dialled.toLatin1());
    const ModemReply reply = modem.WaitForReply(call.device.dialTimeoutMs);
    if (reply == ModemReply::Ring)
        return AnswerOfferedCall(call, modem, post);
    if (reply == ModemReply::None && !call.stopping.load()) {
        // No verdict in time, or the call was dropped while dialling: any character
        // ends the dialling, and the modem stays in command mode.
        CModemDialogue abort(call.fd.load(), [&call] { return call.stopping.load(); });
        abort.Send("ATH");
        abort.WaitForReply(kHangUpReplyMs);
    }
    return reply;
}

} // namespace

void RunCallDialogue(LineCall& call, const CallEventPoster& post)
{
    if (Cancelled(call))
        return;
    int fd = -1;
    ModemReply reply = ModemReply::Connect;
    switch (call.device.kind) {
    case LineDevice::Kind::Tcp:
        fd = ConnectTcp(call.accessNumber, call);
        break;
    case LineDevice::Kind::Direct:
        fd = OpenSerialDevice(call.device, &call.localFault);
        break;
    case LineDevice::Kind::Hayes:
        fd = OpenSerialDevice(call.device, &call.localFault);
        if (fd >= 0) {
            call.fd = fd;
            CModemDialogue modem(fd, [&call] { return Cancelled(call); });
            reply = DialHayes(call, modem, post);
        }
        break;
    }
    call.fd = fd;
    if (Cancelled(call))
        return;
    if (!call.localFault.isEmpty()) {
        post(LINE_CALLSTATE, LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_LOCALFAULT);
        return;
    }
    if (fd < 0) {
        post(LINE_CALLSTATE, LINECALLSTATE_DISCONNECTED, 0);
        return;
    }
    const std::uint32_t state = CallStateFor(reply);
    if (state == LINECALLSTATE_CONNECTED)
        call.inDataMode = true;
    post(LINE_CALLSTATE, state, 0);
}

namespace {

// Discards what the modem sent that nobody will read; a failure leaves it to be read
// as a reply, so it is worth a word.
void DiscardInput(int fd)
{
    if (tcflush(fd, TCIFLUSH) != 0)
        qCWarning(lcLine, "Cannot discard what the modem sent: %s", strerror(errno));
}

void HangUpModem(LineCall& call, int fd)
{
    CModemDialogue modem(fd, [&call] { return call.stopping.load(); });
    modem.Discard();
    DiscardInput(fd);
    int dtr = TIOCM_DTR;
    if (ioctl(fd, TIOCMBIC, &dtr) == 0) {
        // The modem hangs up when DTR falls; raise it again and check that it listens.
        modem.Idle(kDtrLowMs);
        if (ioctl(fd, TIOCMBIS, &dtr) != 0)
            qCWarning(lcLine, "Cannot raise DTR again after the hang-up: %s", strerror(errno));
        DiscardInput(fd);
        modem.Discard();
        modem.Send("AT");
        if (modem.WaitForReply(kHangUpReplyMs) == ModemReply::Ok)
            return;
    }
    // No DTR to drop (a pseudo-terminal) or the modem stayed on line: escape to
    // command mode with the guard times around "+++", then hang up.
    modem.Idle(kGuardTimeMs);
    modem.Discard();
    modem.SendRaw("+++");
    modem.Idle(kGuardTimeMs);
    modem.WaitForReply(kEscapeReplyMs);
    modem.Discard();
    modem.Send("ATH");
    modem.WaitForReply(kHangUpReplyMs);
}

} // namespace

void RunCallDrop(LineCall& call)
{
    const int fd = call.fd.exchange(-1);
    if (fd < 0)
        return;
    if (call.device.kind == LineDevice::Kind::Hayes && call.inDataMode.load())
        HangUpModem(call, fd);
    else if (call.device.kind == LineDevice::Kind::Tcp && shutdown(fd, SHUT_RDWR) != 0
        && errno != ENOTCONN)
        qCWarning(lcLine, "Cannot end the connection to %s: %s", qUtf8Printable(call.accessNumber),
            strerror(errno));
    call.inDataMode = false;
    if (::close(fd) != 0)
        qCWarning(lcLine, "Closing line device %s reported: %s", qUtf8Printable(call.device.name),
            strerror(errno));
}
