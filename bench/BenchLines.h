#pragma once

#include <QString>

class BenchReport;

// Figure 9: one-recipient messages to four providers, delivered by `quillpost --headless`
// with the program's own periods through four send lines (--modem repeated) and through
// one, each line a simulated Hayes modem (`quillpost-sim --pty --line-rate 1200`) on a
// pseudo-terminal of its own. Four lines take 200 messages, 50 to each provider; one line
// takes `oneLinePages` of them (a multiple of four), and its time for 200 is scaled from
// that, which the output says. Every row must end as sent, the simulators' logs together
// must hold exactly one page per row and no pager ID and text twice; otherwise throws
// std::runtime_error.
void MeasureLines(
    BenchReport& report, const QString& programs, const QString& workFolder, int oneLinePages);
