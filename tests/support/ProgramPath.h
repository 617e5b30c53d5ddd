#pragma once

#include <QCoreApplication>
#include <QString>

// The path of one of the project's programs (quillpost, quillpost-send, ...): ctest
// names their folder in QUILLPOST_BIN_DIR; run by hand, a test finds them in the bin
// folder beside its own (tests/ and bin/ of one build folder).
inline QString ProgramPath(const QString& name)
{
    return qEnvironmentVariable(
               "QUILLPOST_BIN_DIR", QCoreApplication::applicationDirPath() + "/../bin")
        + QLatin1Char('/') + name;
}
