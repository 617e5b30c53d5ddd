#pragma once

#include "NetworkSession.h"

namespace quillpost::sim {

// One TCP (or TLS) connection to the simulated SNPP server: a 220 greeting, then
// LOGI, PAGE, MESS, DATA, SEND, RESE and QUIT, one reply line each. It plays the
// faults that mean something here: unknown pagers (550 to PAGE), a refused SEND
// (nakBlock), a drop after a page (dropLineAfterBlock), slow replies and silence.
class SnppSession : public NetworkSession
{
    Q_OBJECT

public:
    SnppSession(const SimConfig& config, QTcpSocket* socket, SimRecorder& recorder,
        QObject* parent = nullptr);

private:
    void greet() override;
    void received(const QByteArray& bytes) override;
    void command(const QByteArray& line);
    void login(const QList<QByteArray>& words);
    void page(const QByteArray& pagerId);
    void send();
    void reply(const QByteArray& line);
    // Ends the call once the replies already queued are out.
    void end(CallEnd how);

    int m_pagesTried = 0; // SEND commands with pager and text set
    int m_repliesPending = 0; // replies held back by a slow reply delay
    QByteArray m_buffer;
    QByteArray m_pagerId;
    QByteArray m_text;
    bool m_hasText = false;
    bool m_readingData = false; // between DATA's 354 and the lone "."
};

} // namespace quillpost::sim
