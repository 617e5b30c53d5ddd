#include "platform/telephony/LineCall.h"

#include "platform/comm/CommPort.h"
#include "platform/telephony/ModemDialogue.h"

#include <QtGlobal>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
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

int OpenSerialDevice(const LineDevice& device)
{
    const QByteArray path = device.device.toLocal8Bit();
    const int fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        qWarning("Cannot open line device %s: %s", path.constData(), strerror(errno));
        return -1;
    }
    termios settings = {};
    if (tcgetattr(fd, &settings) != 0 || !MakeRawSettings(settings, device.speed)
        || tcsetattr(fd, TCSANOW, &settings) != 0) {
        qWarning("Cannot set up line device %s at %d bit/s", path.constData(), device.speed);
        ::close(fd);
        return -1;
    }
    // Raise DTR in case an earlier hang-up left it low; a pseudo-terminal has no DTR.
    int dtr = TIOCM_DTR;
    ioctl(fd, TIOCMBIS, &dtr);
    tcflush(fd, TCIOFLUSH);
    return fd;
}

int ConnectTcp(const QString& accessNumber, const LineCall& call)
{
    const std::optional<TcpAddress> address = ParseTcpAddress(accessNumber);
    if (!address) {
        qWarning("The access number \"%s\" is not host:port", qUtf8Printable(accessNumber));
        return -1;
    }
    addrinfo hints = {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const QByteArray host = address->host.toUtf8();
    const QByteArray port = QByteArray::number(address->port);
    if (getaddrinfo(host.constData(), port.constData(), &hints, &found) != 0 || !found)
        return -1;
    int fd = -1;
    for (addrinfo* candidate = found; candidate && fd < 0; candidate = candidate->ai_next) {
        fd = socket(candidate->ai_family, candidate->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
            candidate->ai_protocol);
        if (fd < 0)
            continue;
        if (connect(fd, candidate->ai_addr, candidate->ai_addrlen) == 0)
            break;
        bool connected = false;
        if (errno == EINPROGRESS) {
            for (int waited = 0; waited < kConnectTimeoutMs && !Cancelled(call); waited += 50) {
                pollfd watch = { fd, POLLOUT, 0 };
                if (poll(&watch, 1, 50) > 0) {
                    int error = 0;
                    socklen_t length = sizeof error;
                    getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length);
                    connected = error == 0;
                    break;
                }
            }
        }
        if (!connected) {
            ::close(fd);
            fd = -1;
        }
    }
    freeaddrinfo(found);
    if (fd >= 0) {
        int on = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    }
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
    post(LINE_LINEDEVSTATE, LINEDEVSTATE_RINGING);
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

ModemReply DialHayes(LineCall& call, CModemDialogue& modem, const CallEventPoster& post)
{
    if (!call.device.init.isEmpty()) {
        modem.Send(call.device.init);
        for (;;) {
            const ModemReply reply = modem.WaitForReply(kInitTimeoutMs);
            if (reply == ModemReply::Ok)
                break;
            if (reply == ModemReply::Ring)
                return AnswerOfferedCall(call, modem, post);
            return reply == ModemReply::None ? ModemReply::NoAnswer : reply;
        }
    }
    if (!IsDialableNumber(call.accessNumber)) {
        qWarning("The access number \"%s\" holds characters a modem cannot dial",
            qUtf8Printable(call.accessNumber));
        return ModemReply::Error;
    }
    modem.Send("ATDT" + call.accessNumber.toLatin1());
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
        fd = OpenSerialDevice(call.device);
        break;
    case LineDevice::Kind::Hayes:
        fd = OpenSerialDevice(call.device);
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
    if (fd < 0) {
        post(LINE_CALLSTATE, LINECALLSTATE_DISCONNECTED);
        return;
    }
    const std::uint32_t state = CallStateFor(reply);
    if (state == LINECALLSTATE_CONNECTED)
        call.inDataMode = true;
    post(LINE_CALLSTATE, state);
}

namespace {

void HangUpModem(LineCall& call, int fd)
{
    CModemDialogue modem(fd, [&call] { return call.stopping.load(); });
    modem.Discard();
    tcflush(fd, TCIFLUSH);
    int dtr = TIOCM_DTR;
    if (ioctl(fd, TIOCMBIC, &dtr) == 0) {
        // The modem hangs up when DTR falls; raise it again and check that it listens.
        modem.Idle(kDtrLowMs);
        ioctl(fd, TIOCMBIS, &dtr);
        tcflush(fd, TCIFLUSH);
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
    else if (call.device.kind == LineDevice::Kind::Tcp)
        shutdown(fd, SHUT_RDWR);
    call.inDataMode = false;
    ::close(fd);
}
