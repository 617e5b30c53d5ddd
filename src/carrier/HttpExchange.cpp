#include "carrier/HttpExchange.h"

#include <QList>
#include <algorithm>

namespace {

constexpr qsizetype kMaxHead = 16 * 1024;
constexpr qsizetype kMaxBody = 1024 * 1024;
const QByteArray kHeadEnd = "\r\n\r\n";

} // namespace

QByteArray HttpPostRequest(const QString& host, quint16 port, bool tls, const QString& path,
    const QByteArray& contentType, const QByteArray& body)
{
    QByteArray hostField
        = host.contains(QLatin1Char(':')) ? '[' + host.toLatin1() + ']' : host.toLatin1();
    if (port != (tls ? 443 : 80))
        hostField += ':' + QByteArray::number(port);
    return "POST " + path.toLatin1() + " HTTP/1.1\r\nHost: " + hostField
        + "\r\nUser-Agent: Quillpost\r\nContent-Type: " + contentType
        + "\r\nContent-Length: " + QByteArray::number(body.size()) + kHeadEnd + body;
}

CHttpResponseReader::State CHttpResponseReader::Feed(const QByteArray& bytes)
{
    if (m_state != State::Incomplete)
        return m_state;
    m_buffer += bytes;
    // A 100 Continue or another interim answer comes before the real one.
    while (!m_bHead && m_state == State::Incomplete) {
        const qsizetype before = m_buffer.size();
        m_state = ReadHead();
        if (m_buffer.size() == before)
            return m_state;
    }
    if (m_state == State::Incomplete)
        m_state = m_bChunked ? ReadChunks() : ReadBody();
    return m_state;
}

CHttpResponseReader::State CHttpResponseReader::Closed()
{
    if (m_state == State::Incomplete && m_bHead && !m_bChunked && m_nLength < 0) {
        m_body = m_buffer;
        m_state = State::Complete;
    }
    return m_state;
}

CHttpResponseReader::State CHttpResponseReader::ReadHead()
{
    const qsizetype end = m_buffer.indexOf(kHeadEnd);
    if (end < 0)
        return m_buffer.size() > kMaxHead ? State::Bad : State::Incomplete;
    const QList<QByteArray> lines = m_buffer.left(end).split('\n');
    m_buffer.remove(0, end + kHeadEnd.size());
    const QByteArray statusLine = lines.value(0).trimmed();
    const QList<QByteArray> words = statusLine.split(' ');
    bool numeric = false;
    m_nStatus = words.value(1).toInt(&numeric);
    if (!words.value(0).startsWith("HTTP/1.") || !numeric)
        return State::Bad;
    if (m_nStatus < 200)
        return State::Incomplete;
    m_bHead = true;
    m_strReason = QString::fromLatin1(statusLine.mid(words[0].size() + words[1].size() + 2));
    m_bClose = words.value(0) == "HTTP/1.0";
    bool lengthRead = true;
    for (const QByteArray& line : lines.mid(1)) {
        const qsizetype colon = line.indexOf(':');
        const QByteArray name = line.left(colon).trimmed().toLower();
        const QByteArray value = line.mid(colon + 1).trimmed().toLower();
        if (name == "content-length")
            m_nLength = value.toLongLong(&lengthRead);
        else if (name == "transfer-encoding")
            m_bChunked = value.contains("chunked");
        else if (name == "connection")
            m_bClose = value.contains("close") || (m_bClose && !value.contains("keep-alive"));
    }
    if (!lengthRead || m_nLength > kMaxBody)
        return State::Bad;
    return State::Incomplete;
}

CHttpResponseReader::State CHttpResponseReader::ReadBody()
{
    if (m_nLength < 0)
        return m_buffer.size() > kMaxBody ? State::Bad : State::Incomplete;
    if (m_buffer.size() < m_nLength)
        return State::Incomplete;
    m_body = m_buffer.left(m_nLength);
    return State::Complete;
}

CHttpResponseReader::State CHttpResponseReader::ReadChunks()
{
    for (;;) {
        const qsizetype lineEnd = m_buffer.indexOf("\r\n");
        if (lineEnd < 0)
            return m_buffer.size() > kMaxHead ? State::Bad : State::Incomplete;
        bool numeric = false;
        const qint64 size
            = m_buffer.left(lineEnd).split(';').value(0).trimmed().toLongLong(&numeric, 16);
        if (!numeric || size < 0 || m_body.size() + size > kMaxBody)
            return State::Bad;
        // The last chunk's trailer ends with an empty line.
        const qsizetype need = size == 0
            ? m_buffer.indexOf(kHeadEnd, std::max<qsizetype>(0, lineEnd - 2))
            : lineEnd + 2 + size + 2;
        if (size == 0)
            return need < 0 ? State::Incomplete : State::Complete;
        if (m_buffer.size() < need)
            return State::Incomplete;
        m_body += m_buffer.mid(lineEnd + 2, size);
        m_buffer.remove(0, need);
    }
}
