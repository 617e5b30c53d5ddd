#include "platform/comm/CommPort.h"

#include "platform/LogCategories.h"

#include <QList>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool IsSocket(int fd)
{
    struct stat info = {};
    return fstat(fd, &info) == 0 && S_ISSOCK(info.st_mode);
}

std::optional<char> ParseParity(const QByteArray& value)
{
    if (value.size() != 1)
        return std::nullopt;
    const char letter = static_cast<char>(QChar::toUpper(static_cast<char32_t>(value[0])));
    if (QByteArrayView("NEOMS").contains(letter))
        return letter;
    return std::nullopt;
}

std::optional<int> ParseNumber(const QByteArray& value, int lowest, int highest)
{
    bool ok = false;
    const int number = value.toInt(&ok);
    if (!ok || number < lowest || number > highest)
        return std::nullopt;
    return number;
}

tcflag_t CharacterSize(int dataBits)
{
    switch (dataBits) {
    case 5:
        return CS5;
    case 6:
        return CS6;
    case 7:
        return CS7;
    default:
        return CS8;
    }
}

using Clock = std::chrono::steady_clock;

int RemainingMs(Clock::time_point deadline)
{
    const auto left
        = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

} // namespace

std::optional<CommFraming> ParseCommMode(const QByteArray& modeText)
{
    CommFraming framing;
    const QList<QByteArray> words = modeText.simplified().split(' ');
    for (const QByteArray& word : words) {
        if (word.isEmpty())
            continue;
        const qsizetype equals = word.indexOf('=');
        if (equals <= 0)
            return std::nullopt;
        const QByteArray key = word.left(equals).toLower();
        const QByteArray value = word.mid(equals + 1);
        if (key == "parity") {
            const auto parity = ParseParity(value);
            if (!parity)
                return std::nullopt;
            framing.parity = *parity;
        } else if (key == "data") {
            const auto bits = ParseNumber(value, 5, 8);
            if (!bits)
                return std::nullopt;
            framing.dataBits = *bits;
        } else if (key == "stop") {
            const auto bits = ParseNumber(value, 1, 2);
            if (!bits)
                return std::nullopt;
            framing.stopBits = *bits;
        } else {
            return std::nullopt;
        }
    }
    return framing;
}

QByteArray FormatCommMode(char parity, int dataBits, int stopBits)
{
    QByteArray text = "parity=";
    text += parity;
    text += " data=" + QByteArray::number(dataBits) + " stop=" + QByteArray::number(stopBits);
    return text;
}

bool ApplyFraming(termios& settings, const CommFraming& framing)
{
    if (framing.dataBits < 5 || framing.dataBits > 8)
        return false;
    if (framing.stopBits != 1 && framing.stopBits != 2)
        return false;
    tcflag_t cflag = settings.c_cflag;
    cflag &= ~static_cast<tcflag_t>(PARENB | PARODD | CMSPAR | CSIZE | CSTOPB | CRTSCTS);
    switch (framing.parity) {
    case 'N':
        break;
    case 'E':
        cflag |= PARENB;
        break;
    case 'O':
        cflag |= PARENB | PARODD;
        break;
    case 'M':
        cflag |= PARENB | CMSPAR | PARODD;
        break;
    case 'S':
        cflag |= PARENB | CMSPAR;
        break;
    default:
        return false;
    }
    cflag |= CharacterSize(framing.dataBits);
    if (framing.stopBits == 2)
        cflag |= CSTOPB;
    settings.c_cflag = cflag;
    return true;
}

bool MakeRawSettings(termios& settings, int baudRate)
{
    speed_t speed = B0;
    switch (baudRate) {
    case 300:
        speed = B300;
        break;
    case 1200:
        speed = B1200;
        break;
    case 2400:
        speed = B2400;
        break;
    case 4800:
        speed = B4800;
        break;
    case 9600:
        speed = B9600;
        break;
    case 19200:
        speed = B19200;
        break;
    case 38400:
        speed = B38400;
        break;
    case 57600:
        speed = B57600;
        break;
    case 115200:
        speed = B115200;
        break;
    default:
        return false;
    }
    cfmakeraw(&settings);
    settings.c_cflag |= CREAD | CLOCAL | HUPCL;
    settings.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
    settings.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;
    cfsetispeed(&settings, speed);
    cfsetospeed(&settings, speed);
    return true;
}

CCommPort::CCommPort(int fd, ReadObserver observer)
    : m_fd(fd)
    , m_observer(std::move(observer))
{
}

CCommPort::~CCommPort()
{
    Close();
}

bool CCommPort::IsTerminal() const
{
    return m_fd >= 0 && isatty(m_fd) == 1;
}

bool CCommPort::SetMode(const QByteArray& modeText)
{
    if (m_fd < 0)
        return false;
    const std::optional<CommFraming> framing = ParseCommMode(modeText);
    if (!framing)
        return false;
    if (!IsTerminal())
        return true;
    termios settings = {};
    if (tcgetattr(m_fd, &settings) != 0) {
        qCWarning(lcLine, "Cannot read the line's settings: %s", strerror(errno));
        return false;
    }
    if (!ApplyFraming(settings, *framing))
        return false;
    // Some terminals refuse a framing they cannot carry (a pseudo-terminal refuses
    // parity and 7-bit characters on some kernels and ignores them on others); the
    // port then keeps its previous settings.
    if (tcsetattr(m_fd, TCSANOW, &settings) != 0) {
        qCInfo(lcLine, "The line keeps its framing; it refused %s: %s", modeText.constData(),
            strerror(errno));
        return false;
    }
    m_applied = settings;
    return true;
}

CCommPort::ReadResult CCommPort::Read(char* buffer, int maxCount, int timeoutMs)
{
    if (m_fd < 0)
        return { ReadStatus::Closed, 0 };
    if (maxCount <= 0)
        return { ReadStatus::TimedOut, 0 };
    pollfd watch = { m_fd, POLLIN, 0 };
    const int ready = poll(&watch, 1, timeoutMs);
    if (ready == 0 || (ready < 0 && errno == EINTR))
        return { ReadStatus::TimedOut, 0 };
    int error = ready < 0 ? errno : 0;
    if (ready > 0 && (watch.revents & POLLIN)) {
        const ssize_t count = read(m_fd, buffer, static_cast<size_t>(maxCount));
        if (count > 0) {
            if (m_observer)
                m_observer(buffer, static_cast<int>(count));
            return { ReadStatus::Data, static_cast<int>(count) };
        }
        if (count < 0 && (errno == EAGAIN || errno == EINTR))
            return { ReadStatus::TimedOut, 0 };
        error = count < 0 ? errno : 0;
    }
    // End of file, a hang-up or an error: the stream is over. A reader goes on polling
    // a closed line, so this is said once.
    if (!m_endReported.exchange(true)) {
        if (error != 0)
            qCWarning(lcLine, "Reading the line failed: %s", strerror(error));
        if (m_observer)
            m_observer(nullptr, -1);
    }
    return { ReadStatus::Closed, 0 };
}

int CCommPort::Write(const char* bytes, int count, int timeoutMs)
{
    if (m_fd < 0 || count <= 0)
        return 0;
    const bool socket = IsSocket(m_fd);
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    int written = 0;
    while (written < count) {
        const auto left = static_cast<size_t>(count - written);
        // A socket whose peer has gone must not raise SIGPIPE in the program.
        const ssize_t result = socket ? send(m_fd, bytes + written, left, MSG_NOSIGNAL)
                                      : write(m_fd, bytes + written, left);
        if (result > 0) {
            written += static_cast<int>(result);
            continue;
        }
        if (result < 0 && errno == EINTR)
            continue;
        if (result < 0 && errno != EAGAIN) {
            qCWarning(
                lcLine, "Wrote %d of %d bytes to the line: %s", written, count, strerror(errno));
            break;
        }
        pollfd watch = { m_fd, POLLOUT, 0 };
        const int remaining = RemainingMs(deadline);
        if (remaining == 0 || poll(&watch, 1, remaining) <= 0) {
            qCWarning(lcLine, "Wrote %d of %d bytes to the line: no room for the rest within %d ms",
                written, count, timeoutMs);
            break;
        }
    }
    return written;
}

bool CCommPort::Purge()
{
    if (m_fd < 0)
        return false;
    if (IsTerminal()) {
        if (tcflush(m_fd, TCIOFLUSH) == 0)
            return true;
        qCWarning(lcLine, "Cannot discard the line's pending bytes: %s", strerror(errno));
        return false;
    }
    // A socket has no driver buffers to flush: discard what has arrived, but no more
    // than a bounded amount, or a peer that writes faster than this reads would keep the
    // owner's thread here for ever.
    char discard[4096];
    for (std::size_t dropped = 0; dropped < kMostPurgedBytes;) {
        const ssize_t count = recv(m_fd, discard, sizeof discard, MSG_DONTWAIT);
        if (count <= 0)
            break;
        dropped += static_cast<std::size_t>(count);
    }
    return true;
}

void CCommPort::Close()
{
    if (m_fd < 0)
        return;
    // Closed either way (Linux releases the descriptor even on EINTR); an error here
    // may be the last word of a line that lost bytes on their way out.
    if (::close(m_fd) != 0)
        qCWarning(lcLine, "Closing the line reported: %s", strerror(errno));
    m_fd = -1;
}
