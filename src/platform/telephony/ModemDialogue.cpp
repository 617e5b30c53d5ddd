#include "platform/telephony/ModemDialogue.h"

#include "platform/LogCategories.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <poll.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kSliceMs = 50;
constexpr int kWriteTimeoutMs = 2000;

int MillisecondsLeft(Clock::time_point deadline)
{
    const auto left
        = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

bool StartsWithWord(QByteArrayView line, QByteArrayView word)
{
    if (!line.startsWith(word))
        return false;
    return line.size() == word.size() || line[word.size()] == ' ' || line[word.size()] == '/';
}

} // namespace

ModemReply ClassifyModemReply(QByteArrayView line)
{
    const QByteArrayView text = line.trimmed();
    if (text == "OK" || text == "0")
        return ModemReply::Ok;
    if (StartsWithWord(text, "CONNECT") || text == "1")
        return ModemReply::Connect;
    if (text == "RING" || text == "2")
        return ModemReply::Ring;
    if (text == "NO CARRIER" || text == "3")
        return ModemReply::NoCarrier;
    if (text == "ERROR" || text == "4")
        return ModemReply::Error;
    if (text == "NO DIALTONE" || text == "NO DIAL TONE" || text == "6")
        return ModemReply::NoDialtone;
    if (text == "BUSY" || text == "7")
        return ModemReply::Busy;
    if (text == "NO ANSWER" || text == "8")
        return ModemReply::NoAnswer;
    return ModemReply::None;
}

CModemDialogue::CModemDialogue(int fd, std::function<bool()> cancelled)
    : m_fd(fd)
    , m_cancelled(std::move(cancelled))
{
}

bool CModemDialogue::Send(const QByteArray& command)
{
    return SendRaw(command + '\r');
}

bool CModemDialogue::SendRaw(const QByteArray& bytes)
{
    qsizetype written = 0;
    const auto deadline = Clock::now() + std::chrono::milliseconds(kWriteTimeoutMs);
    while (written < bytes.size()) {
        const ssize_t result
            = write(m_fd, bytes.constData() + written, static_cast<size_t>(bytes.size() - written));
        if (result > 0) {
            written += result;
            continue;
        }
        if (result < 0 && errno == EINTR)
            continue;
        if (result < 0 && errno != EAGAIN) {
            qCWarning(lcLine, "Cannot write to the modem: %s", strerror(errno));
            return false;
        }
        pollfd watch = { m_fd, POLLOUT, 0 };
        const int left = MillisecondsLeft(deadline);
        if (left == 0) {
            qCWarning(lcLine, "The modem took %lld of %lld bytes within %d ms",
                static_cast<long long>(written), static_cast<long long>(bytes.size()),
                kWriteTimeoutMs);
            return false;
        }
        if (poll(&watch, 1, std::min(left, kSliceMs)) < 0 && errno != EINTR) {
            qCWarning(lcLine, "Cannot wait for room towards the modem: %s", strerror(errno));
            return false;
        }
    }
    // Only timing hangs on it: the bytes are already with the driver.
    if (tcdrain(m_fd) != 0)
        qCWarning(lcLine, "Cannot wait for the modem to take the command: %s", strerror(errno));
    return true;
}

bool CModemDialogue::ReadSome(int timeoutMs)
{
    pollfd watch = { m_fd, POLLIN, 0 };
    const int ready = poll(&watch, 1, timeoutMs);
    if (ready <= 0)
        return false;
    if (watch.revents & POLLIN) {
        char buffer[256];
        const ssize_t count = read(m_fd, buffer, sizeof buffer);
        if (count > 0) {
            m_pending.append(buffer, count);
            return true;
        }
        if (count < 0 && (errno == EAGAIN || errno == EINTR))
            return false;
    }
    m_lost = true;
    return false;
}

bool CModemDialogue::TakeLine(QByteArray* line)
{
    for (;;) {
        qsizetype end = -1;
        for (qsizetype i = 0; i < m_pending.size(); ++i) {
            if (m_pending[i] == '\r' || m_pending[i] == '\n') {
                end = i;
                break;
            }
        }
        if (end < 0)
            return false;
        *line = m_pending.left(end);
        m_pending.remove(0, end + 1);
        if (!line->trimmed().isEmpty())
            return true;
    }
}

ModemReply CModemDialogue::WaitForReply(int timeoutMs)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        QByteArray line;
        while (TakeLine(&line)) {
            const ModemReply reply = ClassifyModemReply(line);
            if (reply != ModemReply::None)
                return reply;
        }
        // A modem that never ends its line must not grow the buffer without limit.
        if (m_pending.size() > 4096)
            m_pending.clear();
        if (m_lost)
            return ModemReply::Lost;
        if (m_cancelled && m_cancelled())
            return ModemReply::None;
        const int left = MillisecondsLeft(deadline);
        if (left == 0)
            return ModemReply::None;
        ReadSome(std::min(left, kSliceMs));
    }
}

bool CModemDialogue::Idle(int milliseconds)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
        if (m_cancelled && m_cancelled())
            return false;
        const int left = MillisecondsLeft(deadline);
        if (left == 0)
            return true;
        const int slice = std::min(left, kSliceMs);
        if (m_lost)
            std::this_thread::sleep_for(std::chrono::milliseconds(slice));
        else
            ReadSome(slice);
    }
}

void CModemDialogue::Discard()
{
    m_pending.clear();
}
