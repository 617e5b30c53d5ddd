#pragma once

#include "tap/TapExchange.h"

#include <QByteArray>
#include <QList>
#include <QStringList>
#include <functional>
#include <variant>

inline const QByteArray kAccepted("<accepted>");
inline const QByteArray kRefused("<refused>");
inline const QByteArray kPaused100("<pause 100>");
inline const QByteArray kEnded("<ended>");
inline const QByteArray kAcceptedThenEnded("<accepted, then ended>");

// Stands in for both the line and the owner of an exchange and records, in order,
// every write (its bytes), every pause (recorded, not slept) and every notification.
// The callbacks run after the event is recorded, so a test can act as the sending
// window or as the terminal from inside a notification or a write.
class TapRecorder : public ITapLine, public ITapOwner
{
public:
    void WriteText(const QByteArray& bytes) override
    {
        events << bytes;
        wire += bytes;
        onWrite(bytes);
    }
    void Pause(int ms) override { events << "<pause " + QByteArray::number(ms) + '>'; }
    void OnTapAccepted() override
    {
        events << kAccepted;
        onAccepted();
    }
    void OnTapRefused() override
    {
        events << kRefused;
        onRefused();
    }

    void OnTapEnded(bool acceptedFirst) override
    {
        events << (acceptedFirst ? kAcceptedThenEnded : kEnded);
    }
    void OnTapTerminalLine(const QString& line) override { lines << line; }

    std::function<void()> onAccepted = [] {};
    std::function<void()> onRefused = [] {};
    std::function<void(const QByteArray&)> onWrite = [](const QByteArray&) {};
    QList<QByteArray> events;
    QByteArray wire; // every byte written, in order
    QStringList lines; // every message-sequence line reported, in order
};

// A chunk of received bytes, or a number of 100 ms ticks.
using TapStep = std::variant<QByteArray, int>;
using TapScript = QList<TapStep>;

inline TapStep Ticks(int count)
{
    return count;
}

inline void Feed(CTapExchange& exchange, const QByteArray& bytes)
{
    exchange.OnReceived(static_cast<std::int32_t>(bytes.size()), bytes.constData());
}

inline void RunScript(CTapExchange& exchange, const TapScript& script)
{
    for (const TapStep& step : script) {
        if (const int* ticks = std::get_if<int>(&step)) {
            for (int tick = 0; tick < *ticks; ++tick)
                exchange.OnTick();
        } else {
            Feed(exchange, std::get<QByteArray>(step));
        }
    }
}
