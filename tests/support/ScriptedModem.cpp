#include "ScriptedModem.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

ScriptedModem::ScriptedModem(Responder responder)
    : m_responder(std::move(responder))
{
    char name[256] = {};
    if (openpty(&m_master, &m_slaveKeeper, name, nullptr, nullptr) != 0) {
        m_master = -1;
        return;
    }
    termios raw = {};
    tcgetattr(m_master, &raw);
    cfmakeraw(&raw);
    tcsetattr(m_master, TCSANOW, &raw);
    tcsetattr(m_slaveKeeper, TCSANOW, &raw);
    m_slavePath = QString::fromLocal8Bit(name);
    m_thread = std::thread([this] { Run(); });
}

ScriptedModem::~ScriptedModem()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    if (m_master >= 0)
        close(m_master);
    if (m_slaveKeeper >= 0)
        close(m_slaveKeeper);
}

QStringList ScriptedModem::lines() const
{
    std::lock_guard lock(m_mutex);
    return m_lines;
}

QByteArray ScriptedModem::received() const
{
    std::lock_guard lock(m_mutex);
    return m_received;
}

void ScriptedModem::send(const QByteArray& bytes)
{
    if (m_master >= 0 && write(m_master, bytes.constData(), static_cast<size_t>(bytes.size())) < 0)
        return;
}

void ScriptedModem::Run()
{
    QByteArray pending;
    while (!m_stop.load()) {
        pollfd watch = { m_master, POLLIN, 0 };
        if (poll(&watch, 1, 20) <= 0 || !(watch.revents & POLLIN))
            continue;
        char buffer[256];
        const ssize_t count = read(m_master, buffer, sizeof buffer);
        if (count <= 0)
            continue;
        {
            std::lock_guard lock(m_mutex);
            m_received.append(buffer, count);
        }
        pending.append(buffer, count);
        qsizetype end = 0;
        while ((end = pending.indexOf('\r')) >= 0) {
            const QByteArray line = pending.left(end);
            pending.remove(0, end + 1);
            {
                std::lock_guard lock(m_mutex);
                m_lines << QString::fromLatin1(line);
            }
            const QByteArray reply = m_responder ? m_responder(line) : QByteArray();
            if (!reply.isEmpty())
                send("\r\n" + reply + "\r\n");
        }
    }
}
