#pragma once

#include <QStringList>
#include <QTextStream>

// The database tool's commands, callable in-process:
//   init [--demo] [FILE]   create FILE (default ./Quillpost.mdb), never overwriting
//   check [FILE]           say whether FILE is a usable Quillpost database
//   log [FILE]             print the send log, one attempt per line
// Returns the exit status: 0 done / usable, 1 refused / not usable, 2 bad usage.
int RunDbTool(const QStringList& arguments, QTextStream& out, QTextStream& err);

// Fills a freshly created database with a small address book and a few messages,
// some due now and one due later.
void AddDemoData(const QString& path);
