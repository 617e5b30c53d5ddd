#pragma once

#include <QString>

class BenchReport;

// Figure 7: 1,000 one-recipient messages submitted over SNPP by 10 clients at once, each
// waiting for every reply as SNPP clients do, against a bare loop calling the same
// queue function (QueueSubmittedText) 1,000 times. Both on a database of 200 users,
// once each: every message is a transaction of its own, and its commit waits for the
// disk, so each side takes tens of seconds where a commit costs 20 ms.
void MeasureSnpp(BenchReport& report, const QString& workFolder);
