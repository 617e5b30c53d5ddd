#include "TapRecorder.h"

void TapRecorder::WriteText(const QByteArray& bytes)
{
    events << bytes;
    wire += bytes;
    if (onWrite)
        onWrite(bytes);
}

void TapRecorder::Pause(int milliseconds)
{
    events << "<pause " + QByteArray::number(milliseconds) + '>';
}

void TapRecorder::OnTapAccepted()
{
    events << Accepted();
    if (onAccepted)
        onAccepted();
}

void TapRecorder::OnTapRefused()
{
    events << Refused();
    if (onRefused)
        onRefused();
}

TapStep Chunk(const QByteArray& bytes)
{
    return TapStep { bytes, 0 };
}

TapStep Ticks(int count)
{
    return TapStep { QByteArray(), count };
}

void RunScript(CTapExchange& exchange, const TapScript& script)
{
    for (const TapStep& step : script) {
        if (!step.chunk.isEmpty())
            exchange.OnReceived(
                static_cast<std::int32_t>(step.chunk.size()), step.chunk.constData());
        for (int tick = 0; tick < step.ticks; ++tick)
            exchange.OnTick();
    }
}

QByteArray Accepted()
{
    return "<accepted>";
}

QByteArray Refused()
{
    return "<refused>";
}

QByteArray Paused100()
{
    return "<pause 100>";
}
