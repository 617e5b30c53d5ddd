#pragma once

#include "PagingSimulator.h"

#include <QString>
#include <map>
#include <random>

// Chooses, call by call, how the simulated terminal misbehaves during a soak run: most
// calls are clean, the others get one fault drawn at random. The periods and sizes drawn
// stay well inside the send's time-out, so that every page the terminal acknowledges
// reaches the program before it gives up on the call. Modem-only faults (busy, no
// carrier, no answer) are drawn only for a modem line.
class SoakFaultPicker
{
public:
    SoakFaultPicker(std::mt19937& random, bool modemLine, int faultyPercent);

    // Draws the faults of the next call; the previous draw is then counted as used.
    quillpost::sim::SimFaults Next();

    // How many calls were given each kind of fault, by name; a draw counts once the
    // next one is made, i.e. once a call has run with it.
    const std::map<QString, int>& Injected() const { return m_injected; }
    int InjectedTotal() const;
    // The kind of the last draw; empty for a clean call.
    const QString& PendingKind() const { return m_pendingKind; }

private:
    quillpost::sim::SimFaults Draw(QString& kind);

    std::mt19937& m_random;
    bool m_modemLine;
    int m_faultyPercent;
    QString m_pendingKind; // the kind of the last draw; empty: a clean call
    std::map<QString, int> m_injected;
};
