#pragma once

#include "PagingSimulator.h"

#include <QSettings>
#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <vector>

// The simulator as the program's one line device: a Hayes modem on a pseudo-terminal,
// or a TAP terminal on TCP. Settings must point at a temporary folder (TempSettings).
inline const QString kSimulatedLineName = QStringLiteral("Simulated modem");

// Makes the simulated line the program's one line device and its modem: "hayes" on
// the pseudo-terminal `device`, or "tcp".
inline void ConfigureSimulatedLine(const QString& type, const QString& device = {})
{
    QSettings settings(QStringLiteral("Northmoor"), QStringLiteral("Quillpost"));
    settings.beginWriteArray(QStringLiteral("Lines"));
    settings.setArrayIndex(0);
    settings.setValue(QStringLiteral("name"), kSimulatedLineName);
    settings.setValue(QStringLiteral("type"), type);
    settings.setValue(QStringLiteral("device"), device);
    settings.endArray();
    settings.setValue(QStringLiteral("Quillpost/Modem Name"), kSimulatedLineName);
}

// Makes each simulator a Hayes modem line of its own, named "Modem 1", "Modem 2" ...
// on its pseudo-terminal, and stores every one as a send line (the first as the modem
// name); gives the names. The simulators are started here.
inline QStringList StartSimulatedModems(
    const std::vector<quillpost::sim::PagingSimulator*>& sims)
{
    QSettings settings(QStringLiteral("Northmoor"), QStringLiteral("Quillpost"));
    QStringList names;
    settings.beginWriteArray(QStringLiteral("Lines"));
    for (std::size_t i = 0; i < sims.size(); ++i) {
        if (!sims[i]->startPty())
            qFatal("%s", qPrintable(sims[i]->errorString()));
        names << QStringLiteral("Modem %1").arg(i + 1);
        settings.setArrayIndex(int(i));
        settings.setValue(QStringLiteral("name"), names.last());
        settings.setValue(QStringLiteral("type"), QStringLiteral("hayes"));
        settings.setValue(QStringLiteral("device"), sims[i]->slavePath());
    }
    settings.endArray();
    settings.setValue(QStringLiteral("Quillpost/Modem Name"), names.value(0));
    settings.setValue(QStringLiteral("Quillpost/Send Lines"), names);
    return names;
}

// Starts the simulator, configures the line for it, stores its name as the modem's,
// and gives the number to dial.
inline QString StartSimulatedLine(quillpost::sim::PagingSimulator& sim, bool tcp)
{
    if (tcp ? !sim.startTcp() : !sim.startPty())
        qFatal("%s", qPrintable(sim.errorString()));
    ConfigureSimulatedLine(tcp ? QStringLiteral("tcp") : QStringLiteral("hayes"), sim.slavePath());
    return tcp ? QStringLiteral("127.0.0.1:%1").arg(sim.tcpPort()) : QStringLiteral("5551234");
}
