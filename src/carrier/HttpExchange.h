#pragma once

#include <QByteArray>
#include <QString>

// One HTTP/1.1 POST as the bytes that go on the wire.
QByteArray HttpPostRequest(const QString& host, quint16 port, bool tls, const QString& path,
    const QByteArray& contentType, const QByteArray& body);

// Reads one HTTP/1.1 response as its bytes arrive: a head, then a body framed by
// Content-Length, by chunks, or by the connection closing. Interim 1xx responses are
// passed over.
class CHttpResponseReader
{
public:
    enum class State
    {
        Incomplete,
        Complete,
        Bad, // not HTTP, or larger than any answer to a page can be
    };

    State Feed(const QByteArray& bytes);
    // The connection closed: a body framed by the close is complete now.
    State Closed();

    int Status() const { return m_nStatus; }
    const QString& Reason() const { return m_strReason; }
    const QByteArray& Body() const { return m_body; }
    // The server closes the connection after this response.
    bool ClosesConnection() const { return m_bClose; }

private:
    State ReadHead();
    State ReadBody();
    State ReadChunks();

    QByteArray m_buffer;
    QByteArray m_body;
    QString m_strReason;
    int m_nStatus = 0;
    qint64 m_nLength = -1; // -1: up to the close
    bool m_bHead = false; // the head has been read
    bool m_bChunked = false;
    bool m_bClose = false;
    State m_state = State::Incomplete;
};
