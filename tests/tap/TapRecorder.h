#pragma once

#include "tap/TapExchange.h"

#include <QByteArray>
#include <QList>
#include <functional>

// Stands in for both the line and the owner of an exchange and records, in order,
// every write (its bytes), every pause ("<pause N>") and every notification
// ("<accepted>", "<refused>"). Pauses are recorded, not slept.
class TapRecorder : public ITapLine, public ITapOwner
{
public:
    void WriteText(const QByteArray& bytes) override;
    void Pause(int milliseconds) override;
    void OnTapAccepted() override;
    void OnTapRefused() override;

    // Run after the matching notification has been recorded: lets a test act as the
    // sending window (next block, logout, state change) from inside the notification.
    std::function<void()> onAccepted;
    std::function<void()> onRefused;
    // Run after each write has been recorded: lets a test answer as the terminal would,
    // from inside the write.
    std::function<void(const QByteArray&)> onWrite;

    QList<QByteArray> events;
    QByteArray wire; // every byte written, in order
};

// A chunk of received bytes, or a number of 100 ms ticks.
struct TapStep
{
    QByteArray chunk;
    int ticks = 0;
};
using TapScript = QList<TapStep>;

TapStep Chunk(const QByteArray& bytes);
TapStep Ticks(int count);
void RunScript(CTapExchange& exchange, const TapScript& script);

// Readable event labels for expectations.
QByteArray Accepted();
QByteArray Refused();
QByteArray Paused100();
