#pragma once

#include <QString>
#include <QStringList>
#include <vector>

class CModemList;

// One line device offered as a send line: its name, whether it is one now, and whether
// the last discovery found it.
struct SendLineEntry
{
    QString line;
    bool chosen = false;
    bool found = true;
};

// The devices of the last discovery in their order, each once, then the stored send
// lines no device carries now, so that the operator can still take away a line that
// was unplugged or renamed.
std::vector<SendLineEntry> SendLineEntries(const CModemList& modems, const QStringList& sendLines);

// The send lines once `line` is added or taken away. A line added goes last, so that
// the order the lines are used in stays the one stored.
QStringList ChangeSendLine(QStringList sendLines, const QString& line, bool chosen);
