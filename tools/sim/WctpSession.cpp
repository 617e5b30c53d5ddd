#include "WctpSession.h"

#include "SimRecorder.h"
#include "WctpGateway.h"

#include <QTcpSocket>
#include <QTimer>

namespace quillpost::sim {

namespace {

constexpr qsizetype kMaxHead = 16 * 1024;
constexpr qsizetype kMaxBody = 64 * 1024;
const QByteArray kHeadEnd = "\r\n\r\n";

} // namespace

WctpSession::WctpSession(
    const SimConfig& config, QTcpSocket* socket, SimRecorder& recorder, QObject* parent)
    : NetworkSession(config, socket, recorder, parent)
{
}

void WctpSession::received(const QByteArray& bytes)
{
    if (m_config.faults.silentAfterConnect)
        return;
    m_buffer += bytes;
    takeRequests();
}

void WctpSession::takeRequests()
{
    Request request;
    // One request at a time: a pipelined one waits until the one before is answered.
    while (!ended() && !m_answering && takeRequest(request)) {
        handle(request);
        request = {};
    }
}

bool WctpSession::takeRequest(Request& request)
{
    const qsizetype headEnd = m_buffer.indexOf(kHeadEnd);
    if (headEnd < 0) {
        request.bad = m_buffer.size() > kMaxHead;
        return request.bad;
    }
    const QList<QByteArray> lines = m_buffer.left(headEnd).split('\n');
    const QList<QByteArray> start = lines.value(0).trimmed().split(' ');
    request.method = start.value(0);
    request.keepAlive = start.value(2) == "HTTP/1.1";
    qint64 length = 0;
    bool lengthRead = true;
    for (const QByteArray& line : lines.mid(1)) {
        const qsizetype colon = line.indexOf(':');
        const QByteArray name = line.left(colon).trimmed().toLower();
        const QByteArray value = line.mid(colon + 1).trimmed();
        if (name == "content-length")
            length = value.toLongLong(&lengthRead);
        else if (name == "content-type")
            request.contentType = value.toLower();
        else if (name == "connection")
            request.keepAlive = value.toLower() == "keep-alive"
                || (request.keepAlive && value.toLower() != "close");
        else if (name == "transfer-encoding")
            request.bad = true; // a gateway may demand Content-Length; this one does
    }
    request.bad = request.bad || !lengthRead || length < 0 || length > kMaxBody;
    if (!request.bad && m_buffer.size() < headEnd + kHeadEnd.size() + length)
        return false;
    request.body = m_buffer.mid(headEnd + kHeadEnd.size(), length);
    m_buffer.remove(0, headEnd + kHeadEnd.size() + length);
    return true;
}

void WctpSession::handle(const Request& request)
{
    if (request.bad)
        respond("400 Bad Request", {}, false);
    else if (request.method != "POST")
        respond("405 Method Not Allowed", {}, request.keepAlive);
    else if (!request.contentType.startsWith("text/xml"))
        respond("415 Unsupported Media Type", {}, request.keepAlive);
    else
        submit(request);
}

void WctpSession::submit(const Request& request)
{
    ++m_submissions;
    if (m_config.faults.garbage) {
        respond("200 OK", "\x15\x7f#garbage<<", request.keepAlive);
        return;
    }
    if (m_submissions == m_config.faults.nakBlock) {
        respond("503 Service Unavailable", {}, request.keepAlive);
        return;
    }
    WctpSubmit submission;
    WctpVerdict verdict;
    if (ReadWctpSubmit(request.body, submission, verdict))
        verdict = JudgeWctpSubmit(m_config, submission);
    if (verdict.code == 200) {
        AcceptedPage page { submission.recipientId.toUtf8(), submission.text.toUtf8(), {}, call(),
            QDateTime::currentDateTimeUtc() };
        page.protocol = "wctp";
        // Taken, but the caller never hears so: it cannot know and sends it again.
        page.acknowledged = m_submissions != m_config.faults.dropLineAfterBlock;
        m_recorder.recordPage(page);
        if (!page.acknowledged) {
            end(CallEnd::DroppedByFault);
            return;
        }
    }
    respond("200 OK", WctpConfirmationBody(verdict), request.keepAlive);
}

void WctpSession::respond(const QByteArray& status, const QByteArray& body, bool keepAlive)
{
    const QByteArray bytes = "HTTP/1.1 " + status
        + "\r\nContent-Type: text/xml; charset=utf-8\r\nContent-Length: "
        + QByteArray::number(body.size()) + (keepAlive ? "" : "\r\nConnection: close") + kHeadEnd
        + body;
    auto write = [this, bytes, keepAlive] {
        m_answering = false;
        if (ended() || m_socket->state() != QAbstractSocket::ConnectedState)
            return;
        m_recorder.recordSent(m_socket->write(bytes));
        if (!keepAlive)
            end(CallEnd::Logout);
        else if (!m_buffer.isEmpty())
            QTimer::singleShot(0, this, &WctpSession::takeRequests);
    };
    if (m_config.faults.slowReplyMs <= 0) {
        write();
        return;
    }
    m_answering = true;
    QTimer::singleShot(m_config.faults.slowReplyMs, this, write);
}

void WctpSession::end(CallEnd how)
{
    if (!recordEnd(how))
        return;
    if (how == CallEnd::DroppedByFault)
        m_socket->abort();
    else
        m_socket->disconnectFromHost();
}

} // namespace quillpost::sim
