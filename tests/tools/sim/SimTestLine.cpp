#include "SimTestLine.h"

#include <QDeadlineTimer>
#include <QRegularExpression>
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

SimTestLine::~SimTestLine()
{
    close();
}

bool SimTestLine::openPty(const QString& path)
{
    close();
    m_fd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_fd < 0)
        return false;
    termios settings {};
    ::tcgetattr(m_fd, &settings);
    ::cfmakeraw(&settings);
    ::tcsetattr(m_fd, TCSANOW, &settings);
    return true;
}

bool SimTestLine::connectTcp(quint16 port)
{
    close();
    m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_fd < 0)
        return false;
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close();
        return false;
    }
    ::fcntl(m_fd, F_SETFL, ::fcntl(m_fd, F_GETFL) | O_NONBLOCK);
    return true;
}

void SimTestLine::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_pending.clear();
    m_closedByPeer = false;
}

void SimTestLine::write(const QByteArray& bytes)
{
    qsizetype done = 0;
    QDeadlineTimer deadline(5000);
    while (m_fd >= 0 && done < bytes.size() && !deadline.hasExpired()) {
        const ssize_t n
            = ::write(m_fd, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return;
        pollfd request { m_fd, POLLOUT, 0 };
        ::poll(&request, 1, 20);
    }
}

bool SimTestLine::fill(int timeoutMs)
{
    if (m_fd < 0 || m_closedByPeer)
        return false;
    pollfd request { m_fd, POLLIN, 0 };
    if (::poll(&request, 1, timeoutMs) <= 0)
        return false;
    char buffer[4096];
    const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
    if (n > 0) {
        m_pending.append(buffer, n);
        return true;
    }
    if (n == 0 || (errno != EAGAIN && errno != EINTR))
        m_closedByPeer = true;
    return false;
}

QByteArray SimTestLine::readFor(int windowMs)
{
    QDeadlineTimer deadline(windowMs);
    while (!deadline.hasExpired() && !m_closedByPeer && m_fd >= 0)
        fill(static_cast<int>(std::max<qint64>(1, deadline.remainingTime())));
    return std::exchange(m_pending, {});
}

bool SimTestLine::waitForClose(int timeoutMs)
{
    readFor(timeoutMs);
    return m_closedByPeer;
}

QByteArray SimTestLine::readAtMost(qsizetype count)
{
    if (m_pending.isEmpty())
        fill(5000);
    const QByteArray taken = m_pending.left(count);
    m_pending.remove(0, taken.size());
    return taken;
}

namespace {

// The reply as a pattern over its bytes read as Latin-1. Noise holds no control
// character and no "=", not even in its low seven bits.
QRegularExpression replyPattern(const QByteArray& expected)
{
    const QString noise = "[\\x21-\\x3c\\x3e-\\x7e\\xa1-\\xbc\\xbe-\\xfe]";
    QString pattern;
    for (char byte : expected) {
        if (byte == '#')
            pattern += noise + "{16}\\r\\n";
        else if (byte == '~')
            pattern += noise + "{2000}";
        else
            pattern += QRegularExpression::escape(QString(QChar::fromLatin1(byte)));
    }
    return QRegularExpression(QRegularExpression::anchoredPattern(pattern));
}

QString shown(const QByteArray& bytes)
{
    return QString::fromLatin1(bytes.left(200).toPercentEncoding(" =;[]()!"));
}

} // namespace

QString SimTestLine::talk(const QList<QByteArray>& script, int pieceSize)
{
    for (qsizetype step = 0; step + 1 < script.size(); step += 2) {
        write(script[step]);
        const QByteArray& expected = script[step + 1];
        const qsizetype length
            = expected.size() + expected.count('#') * 17 + expected.count('~') * 1999;
        QByteArray got = length == 0 ? readFor(kQuietMs) : QByteArray();
        bool inPieces = true;
        while (got.size() < length) {
            const QByteArray piece = readAtMost(length - got.size());
            if (piece.isEmpty())
                break;
            inPieces = inPieces && (pieceSize == 0 || piece.size() <= pieceSize);
            got += piece;
        }
        if (!inPieces || !replyPattern(expected).match(QString::fromLatin1(got)).hasMatch())
            return QString("after %1 expected %2%3, got %4")
                .arg(
                    shown(script[step]), shown(expected), inPieces ? "" : " in pieces", shown(got));
    }
    return {};
}

QByteArray tapBlock(const QByteArray& pagerId, const QByteArray& text)
{
    QByteArray block = "\x02" + pagerId + "\r" + text + "\r\x03";
    int sum = 0;
    for (char c : block)
        sum += static_cast<signed char>(c);
    const unsigned low = static_cast<unsigned>(sum) & 0xFFF;
    block += static_cast<char>('0' + (low >> 8));
    block += static_cast<char>('0' + ((low >> 4) & 0xF));
    block += static_cast<char>('0' + (low & 0xF));
    block += '\r';
    return block;
}
