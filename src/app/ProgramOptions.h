#pragma once

#include <QString>
#include <QStringList>

// What the quillpost command line asks for:
//   quillpost [--db FILE]                          the desktop program
//   quillpost --headless [--db FILE] [--modem NAME] the dispatcher without a window
struct ProgramOptions
{
    bool headless = false;
    bool help = false;
    QString database; // empty: Quillpost.mdb in the working directory
    QString modemName; // empty: the stored modem name
    QString error; // set when the arguments are not understood
};

inline constexpr int kExitUsage = 2;

// `arguments` without the program's name.
ProgramOptions ParseProgramOptions(const QStringList& arguments);
QString ProgramUsage();
