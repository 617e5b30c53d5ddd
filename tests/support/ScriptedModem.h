#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

// A modem that says what the test wants: the master side of a pseudo-terminal whose
// thread reads command lines and writes back the answer a responder gives for each
// ("" for none). Smaller than the paging simulator, for the modem replies it does
// not produce (NO DIALTONE, ERROR, RING, silence).
class ScriptedModem
{
public:
    using Responder = std::function<QByteArray(const QByteArray& line)>;

    explicit ScriptedModem(Responder responder);
    ~ScriptedModem();
    ScriptedModem(const ScriptedModem&) = delete;
    ScriptedModem& operator=(const ScriptedModem&) = delete;

    QString slavePath() const { return m_slavePath; }
    bool isValid() const { return m_master >= 0; }
    // Every command line received so far, without its CR.
    QStringList lines() const;
    // Every byte received, data included.
    QByteArray received() const;
    // Writes bytes to the caller as they are.
    void send(const QByteArray& bytes);

private:
    void Run();

    Responder m_responder;
    int m_master = -1;
    int m_slaveKeeper = -1;
    QString m_slavePath;
    mutable std::mutex m_mutex;
    QStringList m_lines;
    QByteArray m_received;
    std::atomic<bool> m_stop { false };
    std::thread m_thread;
};
