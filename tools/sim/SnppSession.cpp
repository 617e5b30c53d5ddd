#include "SnppSession.h"

#include "SimRecorder.h"

#include <QTcpSocket>
#include <QTimer>

namespace quillpost::sim {

SnppSession::SnppSession(
    const SimConfig& config, QTcpSocket* socket, SimRecorder& recorder, QObject* parent)
    : NetworkSession(config, socket, recorder, parent)
{
}

void SnppSession::greet()
{
    reply("220 Quillpost simulator SNPP server ready");
}

void SnppSession::received(const QByteArray& bytes)
{
    m_buffer += bytes;
    qsizetype end = 0;
    while (!ended() && (end = m_buffer.indexOf('\n')) >= 0) {
        QByteArray line = m_buffer.left(end);
        m_buffer.remove(0, end + 1);
        if (line.endsWith('\r'))
            line.chop(1);
        command(line);
    }
}

void SnppSession::command(const QByteArray& line)
{
    if (m_config.faults.silentAfterConnect)
        return;
    if (m_readingData) {
        if (line == ".") {
            m_readingData = false;
            m_hasText = true;
            reply("250 Message OK");
        } else {
            // A leading "." of a text line is doubled on the wire.
            m_text += (m_text.isEmpty() ? "" : "\n") + (line.startsWith("..") ? line.mid(1) : line);
        }
        return;
    }
    const QList<QByteArray> words = line.trimmed().split(' ');
    const QByteArray verb = words.value(0).toUpper();
    const QByteArray argument = line.trimmed().mid(verb.size()).trimmed();
    if (verb == "LOGI") {
        login(words);
    } else if (verb == "PAGE") {
        page(words.value(1));
    } else if (verb == "MESS") {
        m_text = argument;
        m_hasText = !argument.isEmpty();
        reply(m_hasText ? "250 Message OK" : "550 Error, message expected");
    } else if (verb == "DATA") {
        m_text.clear();
        m_readingData = true;
        reply("354 Begin input; end with <CRLF>'.'<CRLF>");
    } else if (verb == "SEND") {
        send();
    } else if (verb == "RESE") {
        m_pagerId.clear();
        m_text.clear();
        m_hasText = false;
        reply("250 Reset OK");
    } else if (verb == "QUIT") {
        reply("221 OK, Goodbye");
        end(CallEnd::Logout);
    } else {
        reply("500 Command not implemented");
    }
}

void SnppSession::login(const QList<QByteArray>& words)
{
    const bool loginOk = m_config.snppLogin.isEmpty() || words.value(1) == m_config.snppLogin;
    const bool passwordOk = m_config.password.isEmpty() || words.value(2) == m_config.password;
    reply(loginOk && passwordOk ? "250 Login accepted" : "550 Invalid login or password");
}

void SnppSession::page(const QByteArray& pagerId)
{
    if (pagerId.isEmpty() || m_config.unknownPagerIds.contains(pagerId)) {
        reply("550 Error, invalid pager ID");
        return;
    }
    m_pagerId = pagerId;
    reply("250 Pager ID accepted");
}

void SnppSession::send()
{
    if (m_pagerId.isEmpty() || !m_hasText) {
        reply("503 Error, pager ID or message incomplete");
        return;
    }
    ++m_pagesTried;
    if (m_pagesTried == m_config.faults.nakBlock) {
        reply("554 Error, failed to send the page");
        return;
    }
    AcceptedPage accepted { m_pagerId, m_text, {}, call(), QDateTime::currentDateTimeUtc() };
    accepted.protocol = "snpp";
    m_recorder.recordPage(accepted);
    m_pagerId.clear();
    m_text.clear();
    m_hasText = false;
    reply("250 Message sent successfully");
    if (m_pagesTried == m_config.faults.dropLineAfterBlock)
        end(CallEnd::DroppedByFault);
}

void SnppSession::reply(const QByteArray& line)
{
    auto write = [this, bytes = line + "\r\n"] {
        if (m_socket->state() != QAbstractSocket::ConnectedState)
            return;
        m_recorder.recordSent(m_socket->write(bytes));
    };
    if (m_config.faults.slowReplyMs <= 0) {
        write();
        return;
    }
    ++m_repliesPending;
    QTimer::singleShot(m_config.faults.slowReplyMs, this, [this, write] {
        --m_repliesPending;
        write();
    });
}

void SnppSession::end(CallEnd how)
{
    if (!recordEnd(how))
        return;
    const int delay = m_repliesPending > 0 ? m_config.faults.slowReplyMs : 0;
    QTimer::singleShot(delay, this, [this, how] {
        if (how == CallEnd::DroppedByFault)
            m_socket->flush();
        m_socket->disconnectFromHost();
    });
}

} // namespace quillpost::sim
