// Changing rows: Edit, AddNew, Update through the field cache, and Delete.
#include "platform/db/DaoConnection.h"
#include "platform/db/DaoException.h"
#include "platform/db/DaoRecordset.h"
#include "platform/db/DaoRecordsetRow.h"
#include "platform/db/DaoValues.h"

#include <QScopeGuard>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>

void CDaoRecordset::Edit()
{
    requireSnapshot();
    loadCurrentRowIntoMembers();
    m_fieldCache = currentValues();
    m_editMode = EditMode::Edit;
}

void CDaoRecordset::AddNew()
{
    requireSnapshot();
    std::vector<DaoFieldValue> blank;
    for (const DaoColumn& column : m_columns) {
        switch (column.type) {
        case DaoColumnType::Counter:
        case DaoColumnType::Long:
            blank.emplace_back(std::int32_t { 0 });
            break;
        case DaoColumnType::Text:
            blank.emplace_back(QString());
            break;
        case DaoColumnType::DateTime:
            blank.emplace_back(COleDateTime());
            break;
        }
    }
    loadMembers(blank);
    m_fieldCache = std::move(blank);
    m_editMode = EditMode::AddNew;
}

void CDaoRecordset::Update()
{
    requireOpen();
    if (m_editMode == EditMode::None)
        throw CDaoException(CDaoException::Kind::Other,
            QStringLiteral("Update was called without Edit or AddNew."));
    m_connection->RequireQuillpostTables();
    if (m_editMode == EditMode::Edit)
        writeChangedColumns();
    else
        insertRow();
    m_editMode = EditMode::None;
    m_fieldCache.clear();
}

namespace {

// Columns whose member differs from the value remembered by Edit or AddNew; the
// auto-numbered ID is never among them. A changed text over 255 characters is refused
// before anything is written, as a Jet Text column would refuse it.
std::vector<std::size_t> changedColumns(const std::vector<DaoColumn>& columns,
    const std::vector<DaoFieldValue>& cache, const std::vector<DaoFieldValue>& values,
    const QString& table)
{
    std::vector<std::size_t> changed;
    for (std::size_t i = 0; i < columns.size(); ++i) {
        if (columns[i].type == DaoColumnType::Counter || values[i] == cache[i])
            continue;
        if (const auto* text = std::get_if<QString>(&values[i]);
            text && text->size() > DaoMaxTextLength)
            throw CDaoException(CDaoException::Kind::ValueTooLong,
                QStringLiteral("The %1 of table %2 can hold at most %3 characters; "
                               "the value given has %4.")
                    .arg(columns[i].name, table)
                    .arg(DaoMaxTextLength)
                    .arg(text->size()));
        changed.push_back(i);
    }
    return changed;
}

// An insert outside the workspace's transaction on a server, where a savepoint cannot
// begin a transaction as it does in SQLite.
bool ownsTransaction(const DaoConnection& connection)
{
    return connection.IsOnServer() && !connection.InTransaction();
}

// Undoes what an unfinished savepoint wrote. Errors are not reported: SQLite may have
// rolled back by itself already, and the failure that got here is the one to report.
// (A server starts no transaction with a savepoint: outside the workspace's transaction
// the insert has a transaction of its own there.)
void discardSavepoint(DaoConnection& connection)
{
    if (ownsTransaction(connection)) {
        QSqlQuery(connection.database()).exec(QStringLiteral("ROLLBACK"));
        return;
    }
    for (const char* sql : { "ROLLBACK TO quillpost_add_row", "RELEASE quillpost_add_row" }) {
        QSqlQuery query(connection.database());
        query.exec(QString::fromLatin1(sql));
    }
}

} // namespace

void CDaoRecordset::writeChangedColumns()
{
    Row& row = m_rows.at(m_position);
    const std::vector<DaoFieldValue> values = storeMembers();
    const std::vector<std::size_t> changed
        = changedColumns(m_columns, m_fieldCache, values, tableName());
    if (changed.empty())
        return;

    QStringList assignments;
    for (std::size_t index : changed)
        assignments.append(QuotedIdentifier(m_columns[index].name) + QStringLiteral(" = ?"));
    QVariantList bound;
    for (std::size_t index : changed)
        bound.append(DaoValueToSql(values[index]));
    bound.append(static_cast<int>(row.id));
    const QSqlQuery query = m_connection->Execute(
        QStringLiteral("UPDATE %1 SET %2 WHERE %3 = ?")
            .arg(QuotedIdentifier(tableName()), assignments.join(QLatin1String(", ")),
                QuotedIdentifier(m_columns.front().name)),
        bound, QStringLiteral("Cannot change row %1 of table %2").arg(row.id).arg(tableName()));
    if (query.numRowsAffected() == 0) {
        row.deleted = true;
        --m_liveRows;
        throw CDaoException(CDaoException::Kind::Other,
            QStringLiteral("Row %1 of table %2 no longer exists.").arg(row.id).arg(tableName()));
    }
    for (std::size_t index : changed)
        row.values[index] = values[index];
}

CDaoRecordset::Row CDaoRecordset::insertAndReadBack(const std::vector<DaoFieldValue>& values,
    const std::vector<std::size_t>& changed, const QString& context)
{
    Row row;
    {
        QVariantList bound;
        for (std::size_t index : changed)
            bound.append(DaoValueToSql(values[index]));
        // Rows added one after another write the same columns: the text is made once.
        if (m_insertSql.isEmpty() || m_insertColumns != changed) {
            QStringList names;
            for (std::size_t index : changed)
                names.append(QuotedIdentifier(m_columns[index].name));
            m_insertColumns = changed;
            m_insertSql = changed.empty()
                ? QStringLiteral("INSERT INTO %1 DEFAULT VALUES").arg(QuotedIdentifier(tableName()))
                : QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                      .arg(QuotedIdentifier(tableName()), names.join(QLatin1String(", ")),
                          QStringList(names.size(), QStringLiteral("?")).join(QLatin1String(", ")));
        }
        // A server says the new ID only when asked for it.
        if (m_connection->IsOnServer()) {
            QSqlQuery& inserted = m_connection->ExecuteRepeated(
                m_insertSql + QStringLiteral(" RETURNING ") + QuotedIdentifier(m_columns.front().name),
                bound, context);
            row.id = inserted.next() ? inserted.value(0).toInt() : 0;
            inserted.finish();
        } else {
            row.id = m_connection->ExecuteRepeated(m_insertSql, bound, context).lastInsertId().toInt();
        }
    }
    {
        // Read the row back, so that the columns not set hold what the database gave.
        QSqlQuery& query
            = m_connection->ExecuteRepeated(QStringLiteral("SELECT %1 FROM %2 WHERE %3 = ?")
                                                .arg(selectList(*m_connection), QuotedIdentifier(tableName()),
                                                    QuotedIdentifier(m_columns.front().name)),
                { static_cast<int>(row.id) }, context);
        // Done with it however this ends: a kept query still reading would hold the file.
        const auto finished = qScopeGuard([&query] { query.finish(); });
        if (!query.next() && query.lastError().isValid())
            throw DaoExceptionFromSqlError(query.lastError(), context);
        // No error and no row: a trigger of the table removed it (the write lock is still
        // held, so nothing else could have), and SQLite has no message to pass on.
        if (!query.isValid())
            throw CDaoException(CDaoException::Kind::Other,
                QStringLiteral("%1: the new row %2 was gone before it could be read back.")
                    .arg(context)
                    .arg(row.id));
        for (std::size_t i = 0; i < m_columns.size(); ++i)
            row.stored.append(query.value(int(i)));
    }
    return row;
}

void CDaoRecordset::insertRow()
{
    const std::vector<DaoFieldValue> values = storeMembers();
    const std::vector<std::size_t> changed
        = changedColumns(m_columns, m_fieldCache, values, tableName());
    const QString context = QStringLiteral("Cannot add a row to table %1").arg(tableName());

    // The insert and its read-back stand or fall together: a row reported as not added
    // must not be in the table, or adding it again would store it twice. Outside a
    // transaction the savepoint is a transaction of its own; inside one it nests.
    const bool own = ownsTransaction(*m_connection);
    m_connection->ExecuteRepeated(
        own ? QStringLiteral("BEGIN") : QStringLiteral("SAVEPOINT quillpost_add_row"), {}, context);
    Row row;
    try {
        row = insertAndReadBack(values, changed, context);
        m_connection->ExecuteRepeated(
            own ? QStringLiteral("COMMIT") : QStringLiteral("RELEASE quillpost_add_row"), {},
            context);
    } catch (const CDaoException&) {
        discardSavepoint(*m_connection);
        throw;
    }
    m_nLastAddedId = row.id;
    m_rows.push_back(std::move(row));
    ++m_liveRows;

    // The row that was current before AddNew stays current; the new one is the last.
    m_editMode = EditMode::None;
    if (m_eof)
        moveTo(std::ptrdiff_t(m_rows.size()));
    else if (!m_bof && !m_rows[m_position].deleted)
        loadCurrentRowIntoMembers();
}

void CDaoRecordset::Delete()
{
    requireSnapshot();
    const Row& current = requireCurrentRow();
    m_connection->RequireQuillpostTables();
    m_connection->Execute(
        QStringLiteral("DELETE FROM %1 WHERE %2 = ?")
            .arg(QuotedIdentifier(tableName()), QuotedIdentifier(m_columns.front().name)),
        { static_cast<int>(current.id) },
        QStringLiteral("Cannot delete row %1 of table %2").arg(current.id).arg(tableName()));
    m_rows[m_position].deleted = true;
    --m_liveRows;
    m_editMode = EditMode::None;
}
