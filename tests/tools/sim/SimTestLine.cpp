#include "SimTestLine.h"

#include <QDeadlineTimer>
#include <QRegularExpression>
#include <QSerialPort>
#include <QTcpSocket>

bool SimTestLine::openPty(const QString& path)
{
    close();
    // Opening applies raw 9600 8N1, as for any serial port.
    m_device = std::make_unique<QSerialPort>(path);
    return m_device->open(QIODevice::ReadWrite);
}

bool SimTestLine::connectTcp(quint16 port)
{
    close();
    auto socket = std::make_unique<QTcpSocket>();
    socket->connectToHost(QHostAddress::LocalHost, port);
    m_device = std::move(socket);
    return static_cast<QTcpSocket*>(m_device.get())->waitForConnected(5000);
}

void SimTestLine::close()
{
    m_device.reset();
    m_pending.clear();
}

void SimTestLine::write(const QByteArray& bytes)
{
    m_device->write(bytes);
    while (m_device->bytesToWrite() > 0 && m_device->waitForBytesWritten(5000)) { }
}

bool SimTestLine::isConnected() const
{
    const auto* socket = qobject_cast<const QTcpSocket*>(m_device.get());
    return m_device && m_device->isOpen()
        && (!socket || socket->state() == QAbstractSocket::ConnectedState);
}

void SimTestLine::fill(int timeoutMs)
{
    if (m_device->bytesAvailable() > 0 || m_device->waitForReadyRead(timeoutMs))
        m_pending += m_device->readAll();
}

QByteArray SimTestLine::readFor(int windowMs)
{
    QDeadlineTimer deadline(windowMs);
    while (!deadline.hasExpired() && isConnected())
        fill(static_cast<int>(std::max<qint64>(1, deadline.remainingTime())));
    return std::exchange(m_pending, {});
}

bool SimTestLine::waitForClose(int timeoutMs)
{
    readFor(timeoutMs);
    return !isConnected();
}

QByteArray SimTestLine::readAtMost(qsizetype count)
{
    if (m_pending.isEmpty() && isConnected())
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
        if (byte == '~')
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

QString SimTestLine::talk(const QList<QByteArray>& script)
{
    for (qsizetype step = 0; step + 1 < script.size(); step += 2) {
        write(script[step]);
        const QByteArray& expected = script[step + 1];
        const qsizetype length = expected.size() + expected.count('~') * 1999;
        QByteArray got = length == 0 ? readFor(kQuietMs) : QByteArray();
        while (got.size() < length) {
            const QByteArray piece = readAtMost(length - got.size());
            if (piece.isEmpty())
                break;
            got += piece;
        }
        if (!replyPattern(expected).match(QString::fromLatin1(got)).hasMatch())
            return QString("after %1 expected %2, got %3")
                .arg(shown(script[step]), shown(expected), shown(got));
    }
    return {};
}

QByteArray tapBlock(const QByteArray& pagerId, const QByteArray& text)
{
    const QByteArray block = "\x02" + pagerId + "\r" + text + "\r\x03";
    int sum = 0;
    for (char c : block)
        sum += static_cast<signed char>(c);
    const unsigned low = static_cast<unsigned>(sum) & 0xFFF;
    return block + char('0' + (low >> 8)) + char('0' + ((low >> 4) & 0xF)) + char('0' + (low & 0xF))
        + '\r';
}
