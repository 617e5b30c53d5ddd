#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QMap>

namespace quillpost::sim {

// What the modem remembers between command lines; ATZ and AT&F bring it back.
struct ModemSettings
{
    bool echo = true; // E
    bool verbose = true; // V: words rather than numbers as result codes
    bool quiet = false; // Q: no result codes at all
    int resultLevel = 4; // X
    QMap<int, int> registers; // S registers set so far
};

// What one AT command line asks of the modem, once its settings are applied.
struct ModemCommandLine
{
    enum class Outcome
    {
        Ignored, // not an AT line (modems stay silent on those)
        Ok,
        Error,
        Dial, // D, DT, DP: the number is in `number`
        Answer, // A
        Online, // O: back to the call in progress
    };
    Outcome outcome = Outcome::Ignored;
    bool hangUp = false; // H came before the outcome
    QByteArray number;
    QList<QByteArray> information; // lines to print before the result (I, S?)
};

// Reads one command line (without its CR) and applies what it sets.
ModemCommandLine interpretCommandLine(QByteArrayView line, ModemSettings& settings);

} // namespace quillpost::sim
