#include "PtyLink.h"

#include <QSocketNotifier>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace quillpost::sim {

namespace {
constexpr int kPresencePollMs = 20;
constexpr int kReadChunk = 4096;

QString systemError(const char* what)
{
    return QStringLiteral("%1: %2").arg(
        QString::fromLatin1(what), QString::fromLocal8Bit(std::strerror(errno)));
}
} // namespace

PtyLink::PtyLink(QObject* parent)
    : QObject(parent)
{
    m_presenceTimer.setInterval(kPresencePollMs);
    connect(&m_presenceTimer, &QTimer::timeout, this, &PtyLink::checkForCaller);
}

PtyLink::~PtyLink()
{
    delete m_notifier;
    if (m_master >= 0)
        ::close(m_master);
}

bool PtyLink::open(QString& error)
{
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_master < 0) {
        error = systemError("posix_openpt");
        return false;
    }
    char name[128] = {};
    if (::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0
        || ::ptsname_r(m_master, name, sizeof name) != 0) {
        error = systemError("Cannot set up the pseudo-terminal");
        return false;
    }
    m_slavePath = QString::fromLocal8Bit(name);
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
    // Termios requests on the master act on the slave's settings; a fresh
    // pseudo-terminal is cooked and echoes, which would send our own replies back.
    makeRaw(m_master);
    // Until the slave has been opened once the master shows no hang-up, so open
    // and close it here to start from the same state as after a caller's hang-up.
    resetSlaveForNextCaller();

    m_notifier = new QSocketNotifier(m_master, QSocketNotifier::Read, this);
    m_notifier->setEnabled(false);
    connect(m_notifier, &QSocketNotifier::activated, this, &PtyLink::readAvailable);
    m_presenceTimer.start();
    return true;
}

qint64 PtyLink::write(QByteArrayView bytes)
{
    if (!m_present)
        return -1;
    const ssize_t written = ::write(m_master, bytes.data(), static_cast<size_t>(bytes.size()));
    if (written >= 0)
        return written;
    if (errno == EAGAIN || errno == EINTR)
        return 0;
    return -1;
}

void PtyLink::readAvailable()
{
    char buffer[kReadChunk];
    for (;;) {
        const ssize_t count = ::read(m_master, buffer, sizeof buffer);
        if (count > 0) {
            emit received(QByteArray(buffer, static_cast<qsizetype>(count)));
            if (!m_present)
                return; // a slot reacting to the bytes found the caller gone
            continue;
        }
        if (count < 0 && (errno == EAGAIN || errno == EINTR))
            return;
        callerHasGone(); // EIO (or end of file): nobody has the slave open
        return;
    }
}

void PtyLink::checkForCaller()
{
    pollfd request { m_master, POLLIN, 0 };
    if (::poll(&request, 1, 0) < 0 || (request.revents & POLLHUP))
        return;
    m_presenceTimer.stop();
    m_present = true;
    m_notifier->setEnabled(true);
    emit callerArrived();
}

void PtyLink::callerHasGone()
{
    m_notifier->setEnabled(false);
    const bool wasPresent = m_present;
    m_present = false;
    resetSlaveForNextCaller();
    m_presenceTimer.start();
    if (wasPresent)
        emit callerLeft();
}

void PtyLink::makeRaw(int fd)
{
    termios settings {};
    if (::tcgetattr(fd, &settings) != 0)
        return;
    ::cfmakeraw(&settings);
    settings.c_cflag |= CLOCAL | CREAD;
    ::tcsetattr(fd, TCSANOW, &settings);
}

// Replies the last caller never read stay queued for whoever opens the slave
// next, as do settings it left behind; a modem forgets both when it hangs up.
void PtyLink::resetSlaveForNextCaller()
{
    const QByteArray path = m_slavePath.toLocal8Bit();
    const int slave = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave < 0)
        return;
    ::tcflush(slave, TCIFLUSH);
    makeRaw(slave);
    ::close(slave);
}

} // namespace quillpost::sim
