#pragma once

#include <QString>
#include <cstdint>

class CQuillpostDoc;

// What the benchmark reads and writes with the SQLite C API directly: the large
// databases it measures on, and the floors the program's own work is held against.

struct BenchScale
{
    int users = 10000;
    int groups = 500;
    int providers = 50;
    int messages = 50000;
    int rowsPerMessage = 4;

    std::int64_t messageRows() const { return std::int64_t(messages) * rowsPerMessage; }
};

// Creates a Quillpost database at `path` holding `scale`'s address book and messages.
// Every message row is sent or given up, so that nothing is due; user N pages pager
// 7000000+N through provider N % providers (0, the default, for every 50th).
void MakeBenchDatabase(const QString& path, const BenchScale& scale);

// Fails the benchmark unless the document holds every row of `scale`; `source` names
// where it was read from, for the message.
void CheckBenchDocument(const CQuillpostDoc& doc, const BenchScale& scale, const QString& source);

// Rows and columns seen by a walk through every table.
struct TableWalk
{
    std::int64_t rows = 0;
    std::int64_t cells = 0;
};

// Steps once through every row of the four tables in ID order, reading every column
// as the type it is stored with: the least any reading of the whole file costs.
TableWalk StepThroughEveryRow(const QString& path);

// Inserts `rows` Messages rows of one message in one transaction with one prepared
// statement, then deletes them again (not timed); returns the milliseconds of the insert.
double InsertMessageRows(const QString& path, int rows);

// The number of rows of a table (or of the rows a WHERE clause selects).
std::int64_t CountRows(const QString& path, const QString& tableAndCondition);

// Runs SQL statements that return nothing; throws std::runtime_error on failure.
void ExecuteSql(const QString& path, const QString& sql);
