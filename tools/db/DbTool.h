#pragma once

#include <QStringList>
#include <QTextStream>

// The database tool's commands, callable in-process (FILE defaults to the database
// CDaoRecordset::ChooseDatabaseName chooses):
//   init [--demo] [FILE]   create FILE, never overwriting, readable by its owner only
//                          (0600; 0660 in a folder shared with a group)
//   check [FILE]           say whether FILE is a usable Quillpost database
//   log [FILE]             print the send log, one attempt per line
//   hash-password NAME     read a password from `in` (default: standard input) and
//                          print the SNPP gateway's credentials line for NAME
//   set-access-number PROVIDER NUMBER [FILE]
//                          give the one provider named PROVIDER that access number
//                          (or URL), refused as the provider dialog refuses it
// Returns the exit status: 0 done / usable, 1 refused / not usable, 2 bad usage.
int RunDbTool(const QStringList& arguments, QTextStream& out, QTextStream& err,
    QTextStream* in = nullptr);

// Fills a freshly created database with a small address book and a few messages,
// some due now and one due later. Two providers are dialled; the third is a WCTP
// gateway reached by URL, whose port scripts/demo sets at each start
// (set-access-number) to the one its simulator listens on.
void AddDemoData(const QString& path);
inline constexpr const char* kDemoWctpProvider = "Harbour Wireless";
inline constexpr const char* kDemoWctpAccessNumber = "http://quillpost@127.0.0.1:18444/wctp";
