#pragma once

class BenchReport;

// Figure 10: Quillpost with its database on a PostgreSQL server, a throwaway cluster of
// the benchmark's own (PostgresCluster), started here and stopped again on return, a
// failure included.
//
// 10a. CQuillpostDoc::ReloadAll of the large database's rows (10,000 users, 500 groups,
// 50 providers, 200,000 message rows), put on the server by one INSERT ... SELECT FROM
// generate_series per table; against a bare forward-only QSqlQuery walk of the same four
// tables over the QPSQL driver, every column of every row read into a QVariant. Median of
// `runs` each.
//
// 10b. 60 waiting one-recipient messages to six providers, sent by three headless
// dispatchers on one database, each a CHeadlessDispatcher in this process with a simulated
// Hayes modem of its own (the simulator's default answers); against the same 60 sent by
// one of them, each on a fresh database. The dispatchers keep the program's periods but
// for the pauses while a call closes, which are sleeps on the thread all of them share
// here. They start once the server has been up for a few scheduler runs, as a site's
// server has. Each side is timed from the dispatchers' start until every row is recorded
// as sent, and given in pages per minute.
//
// Every row must end as sent and the simulators together must take one page per row, no
// pager twice; when that fails, or no PostgreSQL server is installed, throws
// std::runtime_error (BenchFail). With `withDispatch` false only 10a runs.
void MeasureServer(BenchReport& report, int runs, bool withDispatch);
