#pragma once

#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>
#include <utility>

// Adds a test program's figures to the run's reliability tally: one line of
// "name=value" pairs appended to reliability-figures.txt in the build folder, which
// scripts/test sums into its closing line. Names in use: crashes, badFiles,
// lineFaults, rows, lost. Outside ctest (no QUILLPOST_BIN_DIR) nothing is written.
inline void RecordReliabilityFigures(const QList<std::pair<QString, int>>& figures)
{
    const QString binDir = qEnvironmentVariable("QUILLPOST_BIN_DIR");
    if (binDir.isEmpty())
        return;
    QStringList pairs;
    for (const auto& [name, value] : figures)
        pairs << QStringLiteral("%1=%2").arg(name).arg(value);
    QFile file(QDir(binDir).filePath(QStringLiteral("../reliability-figures.txt")));
    // One short append per program: the kernel keeps such a write whole even when
    // programs running in parallel append at once.
    if (file.open(QIODevice::Append | QIODevice::Text))
        file.write((pairs.join(QLatin1Char(' ')) + QLatin1Char('\n')).toUtf8());
}
