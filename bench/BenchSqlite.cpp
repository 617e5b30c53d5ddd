#include "BenchSqlite.h"

#include "BenchReport.h"
#include "data/QuillpostDoc.h"
#include "platform/db/DatabaseSchema.h"

#include <QElapsedTimer>
#include <sqlite3.h>
#include <stdexcept>

namespace {

// One open database, closed when it goes; every failure throws.
class Database
{
public:
    explicit Database(const QString& path)
    {
        if (sqlite3_open_v2(path.toUtf8().constData(), &m_db, SQLITE_OPEN_READWRITE, nullptr)
            != SQLITE_OK)
            fail("open");
        sqlite3_busy_timeout(m_db, 3000);
    }
    ~Database() { sqlite3_close(m_db); }
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    void execute(const char* sql)
    {
        if (sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
            fail(sql);
    }
    sqlite3_stmt* prepare(const char* sql)
    {
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(m_db, sql, -1, &statement, nullptr) != SQLITE_OK)
            fail(sql);
        return statement;
    }
    void step(sqlite3_stmt* statement)
    {
        if (sqlite3_step(statement) != SQLITE_DONE)
            fail(sqlite3_sql(statement));
        sqlite3_reset(statement);
    }
    [[noreturn]] void fail(const char* what)
    {
        throw std::runtime_error(std::string(what) + ": " + sqlite3_errmsg(m_db));
    }

private:
    sqlite3* m_db = nullptr;
};

// A prepared statement, finalized when it goes.
class Statement
{
public:
    Statement(Database& db, const char* sql)
        : m_statement(db.prepare(sql))
    {
    }
    ~Statement() { sqlite3_finalize(m_statement); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    operator sqlite3_stmt*() const { return m_statement; }

private:
    sqlite3_stmt* m_statement;
};

void bindText(sqlite3_stmt* statement, int index, const QByteArray& text)
{
    sqlite3_bind_text(statement, index, text.constData(), int(text.size()), SQLITE_TRANSIENT);
}

void fillAddressBook(Database& db, const BenchScale& scale)
{
    Statement group(db, "INSERT INTO Groups (ID, GroupName) VALUES (?, ?)");
    for (int id = 1; id <= scale.groups; ++id) {
        sqlite3_bind_int(group, 1, id);
        bindText(group, 2, QStringLiteral("Ward rota %1").arg(id).toUtf8());
        db.step(group);
    }
    Statement provider(db,
        "INSERT INTO ServiceProviders (ID, ServiceName, AccessNumber, BaudRate, StopBits, "
        "Parity, DataBits, TAPType, UseAsDefault, Password) VALUES (?, ?, ?, 1200, 1, 1, 7, 1, ?, '')");
    for (int id = 1; id <= scale.providers; ++id) {
        sqlite3_bind_int(provider, 1, id);
        bindText(provider, 2, QStringLiteral("Regional Paging %1").arg(id).toUtf8());
        bindText(provider, 3, QStringLiteral("555%1").arg(id, 4, 10, QLatin1Char('0')).toUtf8());
        sqlite3_bind_int(provider, 4, id == 1 ? 1 : 0);
        db.step(provider);
    }
    Statement user(db,
        "INSERT INTO Users (ID, Name, TelephoneNumber, PreferredProvider, Group1, Group2, "
        "Group3, Group4, Group5, Group6, Group7, Group8, Group9, Group10) "
        "VALUES (?, ?, ?, ?, ?, ?, 0, 0, 0, 0, 0, 0, 0, 0)");
    for (int id = 1; id <= scale.users; ++id) {
        sqlite3_bind_int(user, 1, id);
        bindText(user, 2, QStringLiteral("Duty doctor %1").arg(id).toUtf8());
        bindText(user, 3, QByteArray::number(7000000 + id));
        sqlite3_bind_int(user, 4, id % 50 == 0 ? 0 : id % scale.providers + 1);
        sqlite3_bind_int(user, 5, id % scale.groups + 1);
        sqlite3_bind_int(user, 6, (id * 7) % scale.groups + 1);
        db.step(user);
    }
}

void fillMessages(Database& db, const BenchScale& scale)
{
    Statement row(db,
        "INSERT INTO Messages (ID, Recipient, MessageCount, MessageId, Text, Status, SendTime, "
        "RequestTime, RequiredSendTime, Retries) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    int id = 0;
    for (int message = 0; message < scale.messages; ++message) {
        const int messageId = id + 1;
        const QByteArray text = QStringLiteral("Bed %1 needs review before the ward round: "
                                               "call extension %2: Sent using Quillpost")
                                    .arg(message % 400 + 1)
                                    .arg(2000 + message % 7000)
                                    .toUtf8();
        const QByteArray day = QStringLiteral("2026-%1-%2")
                                   .arg(message % 12 + 1, 2, 10, QLatin1Char('0'))
                                   .arg(message % 28 + 1, 2, 10, QLatin1Char('0'))
                                   .toUtf8();
        for (int r = 0; r < scale.rowsPerMessage; ++r) {
            ++id;
            // Every 25th row was given up after four failures; the rest went out.
            const bool givenUp = id % 25 == 0;
            sqlite3_bind_int(row, 1, id);
            sqlite3_bind_int(row, 2, (message * 13 + r * 101) % scale.users + 1);
            sqlite3_bind_int(row, 3, scale.rowsPerMessage);
            sqlite3_bind_int(row, 4, messageId);
            bindText(row, 5, text);
            sqlite3_bind_int(row, 6, givenUp ? 2 : 1);
            bindText(row, 7, day + " 09:1" + QByteArray::number(r) + ":00");
            bindText(row, 8, day + " 09:00:00");
            bindText(row, 9, day + " 09:00:00");
            sqlite3_bind_int(row, 10, givenUp ? 4 : 0);
            db.step(row);
        }
    }
}

} // namespace

void MakeBenchDatabase(const QString& path, const BenchScale& scale)
{
    CreateQuillpostDatabase(path);
    Database db(path);
    db.execute("BEGIN");
    fillAddressBook(db, scale);
    fillMessages(db, scale);
    db.execute("COMMIT");
    db.execute("PRAGMA wal_checkpoint(TRUNCATE)");
}

TableWalk StepThroughEveryRow(const QString& path)
{
    Database db(path);
    TableWalk walk;
    std::int64_t sum = 0;
    for (const char* sql : { "SELECT * FROM Users ORDER BY ID", "SELECT * FROM Groups ORDER BY ID",
             "SELECT * FROM Messages ORDER BY ID", "SELECT * FROM ServiceProviders ORDER BY ID" }) {
        Statement statement(db, sql);
        const int columns = sqlite3_column_count(statement);
        int result = SQLITE_ROW;
        while ((result = sqlite3_step(statement)) == SQLITE_ROW) {
            ++walk.rows;
            for (int c = 0; c < columns; ++c) {
                if (sqlite3_column_type(statement, c) == SQLITE_TEXT)
                    sum += sqlite3_column_bytes(statement, c) + *sqlite3_column_text(statement, c);
                else
                    sum += sqlite3_column_int(statement, c);
            }
            walk.cells += columns;
        }
        if (result != SQLITE_DONE)
            db.fail(sql);
    }
    // The sum is used, so that no read can be left out.
    if (sum == -1)
        walk.rows = 0;
    return walk;
}

double InsertMessageRows(const QString& path, int rows)
{
    Database db(path);
    QElapsedTimer timer;
    timer.start();
    db.execute("BEGIN IMMEDIATE");
    Statement row(db,
        "INSERT INTO Messages (Recipient, MessageCount, MessageId, Text, Status, SendTime, "
        "RequestTime, RequiredSendTime, Retries) VALUES (?, ?, 0, ?, 0, ?, ?, ?, 0)");
    const QByteArray text = "Floor: the least a queued message can cost: Sent using Quillpost";
    const QByteArray time = "2026-12-07 09:00:00";
    for (int i = 0; i < rows; ++i) {
        sqlite3_bind_int(row, 1, i + 1);
        sqlite3_bind_int(row, 2, rows);
        bindText(row, 3, text);
        bindText(row, 4, time);
        bindText(row, 5, time);
        bindText(row, 6, time);
        db.step(row);
    }
    db.execute("COMMIT");
    const double ms = timer.nsecsElapsed() / 1e6;
    db.execute("DELETE FROM Messages WHERE MessageId = 0");
    return ms;
}

std::int64_t CountRows(const QString& path, const QString& tableAndCondition)
{
    Database db(path);
    Statement count(db, ("SELECT COUNT(*) FROM " + tableAndCondition).toUtf8().constData());
    if (sqlite3_step(count) != SQLITE_ROW)
        db.fail("count");
    return sqlite3_column_int64(count, 0);
}

void ExecuteSql(const QString& path, const QString& sql)
{
    Database db(path);
    db.execute(sql.toUtf8().constData());
}

void CheckBenchDocument(const CQuillpostDoc& doc, const BenchScale& scale, const QString& source)
{
    std::int64_t rows = 0;
    for (const auto& message : doc.m_messages)
        rows += std::int64_t(message->m_recipients.size());
    if (int(doc.m_users.size()) != scale.users || int(doc.m_groups.size()) != scale.groups
        || int(doc.m_providers.size()) != scale.providers
        || int(doc.m_messages.size()) != scale.messages || rows != scale.messageRows())
        BenchFail(QStringLiteral("ReloadAll from %1 read %2 users, %3 groups, %4 providers, "
                                 "%5 messages, %6 rows")
                      .arg(source)
                      .arg(doc.m_users.size())
                      .arg(doc.m_groups.size())
                      .arg(doc.m_providers.size())
                      .arg(doc.m_messages.size())
                      .arg(rows));
}
