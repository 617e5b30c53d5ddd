#pragma once

#include <QString>

class BenchReport;

// Figures 8a and 8b: 50 one-recipient messages through a WCTP gateway and through an
// SNPP server, both the simulator `simProgram` on the loopback. Each message is chosen
// as the scheduler chooses it and sent by its own CSendSession with the program's own
// periods, as one call; every row must end as sent and every page reach the simulator.
// The floor sends the same 50 pages with a bare blocking socket: one connection per
// page, the same request (for WCTP the same kind of XML body, POSTed as HTTP/1.1; for
// SNPP PAGE, MESS, SEND and QUIT), each reply awaited. Throws std::runtime_error when
// either side did not do its work.
void MeasureCarriers(BenchReport& report, const QString& simProgram, const QString& workFolder);
