#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <functional>

// What a Hayes-compatible modem answers to a command, by its result line.
enum class ModemReply
{
    None,
    Ok,
    Connect,
    Busy,
    NoCarrier,
    NoDialtone,
    NoAnswer,
    Error,
    Ring,
    Lost
};

// Classifies one result line (without its line end); None for anything else, an echo
// of the command included.
ModemReply ClassifyModemReply(QByteArrayView line);

// The command-mode conversation with a modem on a descriptor: commands out, result
// lines in. Every wait is bounded and ends early when the caller cancels it.
class CModemDialogue
{
public:
    CModemDialogue(int fd, std::function<bool()> cancelled);

    // Writes the command and CR.
    bool Send(const QByteArray& command);
    // Writes bytes as they are.
    bool SendRaw(const QByteArray& bytes);
    // The next recognised result line; None when the time runs out or the caller
    // cancels, Lost when the descriptor ends.
    ModemReply WaitForReply(int timeoutMs);
    // Waits the time out (for guard times), returning early only on cancellation.
    // Bytes arriving meanwhile are kept for the next WaitForReply.
    bool Idle(int milliseconds);
    // Forgets whatever has been received and not yet read as a reply.
    void Discard();

private:
    bool ReadSome(int timeoutMs);
    bool TakeLine(QByteArray* line);

    int m_fd;
    std::function<bool()> m_cancelled;
    QByteArray m_pending;
    bool m_lost = false;
};
