#pragma once

#include "NetworkSession.h"

namespace quillpost::sim {

// One TCP (or TLS) connection to the simulated WCTP gateway: HTTP/1.1 with keep-alive,
// one request at a time, each a POST of a wctp-SubmitRequest answered with a
// wctp-Confirmation. The connection is the call. It plays the faults that mean
// something here: the k-th submission taken and the connection dropped before its
// answer (dropLineAfterBlock), the k-th answered with HTTP 503 (nakBlock), noise for
// an answer (garbage), slow answers and silence.
class WctpSession : public NetworkSession
{
    Q_OBJECT

public:
    WctpSession(const SimConfig& config, QTcpSocket* socket, SimRecorder& recorder,
        QObject* parent = nullptr);

private:
    struct Request
    {
        QByteArray method;
        QByteArray contentType;
        QByteArray body;
        bool keepAlive = true;
        bool bad = false; // answered with 400, then the connection closes
    };

    void received(const QByteArray& bytes) override;
    void takeRequests();
    // A whole request at the front of the buffer is taken off it; false while incomplete.
    bool takeRequest(Request& request);
    void handle(const Request& request);
    void submit(const Request& request);
    void respond(const QByteArray& status, const QByteArray& body, bool keepAlive);
    void end(CallEnd how);

    int m_submissions = 0;
    QByteArray m_buffer;
    bool m_answering = false; // a response is held back by the slow-reply delay
};

} // namespace quillpost::sim
