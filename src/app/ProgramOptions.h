#pragma once

#include <QString>
#include <QStringList>

// What the quillpost command line asks for:
//   quillpost [--db FILE]                          the desktop program
//   quillpost --headless [--db FILE] [--modem NAME]... the dispatcher without a window
//   quillpost --help | --version                   a text, without any display
struct ProgramOptions
{
    bool headless = false;
    bool help = false;
    bool version = false;
    QString database; // empty: the database CDaoRecordset::ChooseDatabaseName chooses
    // --modem, which may be repeated: the line devices to send through; empty: the
    // stored send lines, else the stored modem name.
    QStringList modemNames;
    QString metricsListen; // [ADDR:]PORT of the metrics page; empty: the stored one, if any
    QString snppListen; // [ADDR:]PORT of the SNPP gateway; empty: the stored one, if any
    QString error; // set when the arguments are not understood
};

inline constexpr int kExitUsage = 2;

// `arguments` without the program's name.
ProgramOptions ParseProgramOptions(const QStringList& arguments);
QString ProgramUsage();
