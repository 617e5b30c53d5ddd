#pragma once

#include <QString>

class QTreeWidget;

// One delivery of a 50-recipient message through the simulator on a pseudo-terminal
// at 9600 bit/s, with the program's own periods.
struct Delivery
{
    double ms = 0; // from the start of the send to its close
    double floorMs = 0; // the conversation's bytes on the line, plus the program's pauses
    long long lineBytes = 0; // both directions, as the terminal counted them
};

// Adds a provider, 50 users and one waiting 50-recipient message to the database at
// `path`, sends it with the simulator `simProgram` as the far end, and checks that all
// 50 pages arrived and all 50 rows say sent. Each recorded result reloads the document
// and, with `rebuildTree`, rebuilds a tree view of it, as the sending window does.
// Throws std::runtime_error when the delivery did not do its work.
Delivery MeasureDelivery(const QString& path, const QString& simProgram, bool rebuildTree);
