#include "platform/db/DaoRecordset.h"

#include "platform/db/DaoConnection.h"
#include "platform/db/DaoCriteria.h"
#include "platform/db/DaoException.h"
#include "platform/db/DaoRecordsetRow.h"
#include "platform/db/DaoStatement.h"
#include "platform/db/DaoValues.h"
#include "platform/db/DaoWorkspace.h"
#include "platform/db/DatabaseLocation.h"

#include <QDir>
#include <QSettings>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>

namespace {

CDaoException noCurrentRecord()
{
    return CDaoException(
        CDaoException::Kind::NoCurrentRecord, QStringLiteral("There is no current record."));
}

QString& defaultDatabaseName()
{
    static QString name = QStringLiteral("Quillpost.mdb");
    return name;
}

} // namespace

CDaoRecordset::CDaoRecordset() = default;

CDaoRecordset::Row CDaoRecordset::rowFrom(const QSqlQuery& query) const
{
    Row row;
    row.id = query.value(0).toInt();
    row.stored.reserve(qsizetype(m_columns.size()));
    for (std::size_t i = 0; i < m_columns.size(); ++i)
        row.stored.append(query.value(int(i)));
    return row;
}

QString CDaoRecordset::DefaultDatabaseName()
{
    return defaultDatabaseName();
}

void CDaoRecordset::SetDefaultDatabaseName(const QString& path)
{
    defaultDatabaseName() = path;
}

QString CDaoRecordset::ChooseDatabaseName(const QString& commandLine)
{
    if (!commandLine.isEmpty())
        return commandLine;
    // Cron and monitoring systems start programs in a working directory of their own;
    // these name the database wherever a program is started.
    if (const QString named = qEnvironmentVariable("QUILLPOST_DB"); !named.isEmpty())
        return named;
    const QSettings settings(QStringLiteral("Northmoor"), QStringLiteral("Quillpost"));
    if (const QString stored = settings.value(QStringLiteral("Quillpost/Database")).toString();
        !stored.isEmpty())
        return stored;
    return QStringLiteral("Quillpost.mdb");
}

QString CDaoRecordset::DefaultDatabasePath()
{
    return AbsoluteDatabaseName(DefaultDatabaseName());
}

// Out of line: the forward-only query's type is complete only here.
CDaoRecordset::~CDaoRecordset()
{
    Close();
}

QString CDaoRecordset::GetDefaultDBName() const
{
    return DefaultDatabaseName();
}

const std::vector<DaoColumn>& CDaoRecordset::columns()
{
    if (m_columns.empty()) {
        std::vector<DaoFieldValue> unused;
        CDaoFieldExchange fx(CDaoFieldExchange::Operation::ListColumns, m_columns, unused);
        DoFieldExchange(fx);
        m_tableName = tableName();
        m_columnList = columnList();
    }
    return m_columns;
}

// A server hands its timestamps to Qt as local times, and one in the hour the clocks
// skip then reads as no time at all; read as text, every stored time reads as it was
// written, as SQLite's do.
QString CDaoRecordset::selectList(const DaoConnection& connection) const
{
    if (!connection.IsOnServer())
        return columnList();
    QStringList names;
    for (const DaoColumn& column : m_columns) {
        const QString name = QuotedIdentifier(column.name);
        names.append(column.type == DaoColumnType::DateTime
                ? QStringLiteral("CAST(%1 AS text) AS %1").arg(name)
                : name);
    }
    return names.join(QLatin1String(", "));
}

QString CDaoRecordset::tableName() const
{
    if (!m_tableName.isEmpty())
        return m_tableName;
    QString name = GetDefaultSQL().trimmed();
    if (name.startsWith(QLatin1Char('[')) && name.endsWith(QLatin1Char(']')))
        name = name.mid(1, name.size() - 2);
    return name;
}

QString CDaoRecordset::columnList() const
{
    if (!m_columnList.isEmpty())
        return m_columnList;
    QStringList names;
    for (const DaoColumn& column : m_columns)
        names.append(QuotedIdentifier(column.name));
    return names.join(QLatin1String(", "));
}

void CDaoRecordset::Open(OpenType type)
{
    Close();
    columns();
    std::shared_ptr<DaoConnection> connection
        = CDaoWorkspace::Default().ConnectionFor(databasePath());

    DaoCriteria filter;
    if (!m_strFilter.isEmpty())
        filter = ParseDaoCriteria(m_strFilter, m_columns);
    const QString sql = QStringLiteral("SELECT %1 FROM %2 %3 ORDER BY %4")
                            .arg(selectList(*connection), QuotedIdentifier(tableName()),
                                filter.condition.isEmpty()
                                    ? QString()
                                    : QStringLiteral("WHERE ") + filter.condition,
                                QuotedIdentifier(m_columns.front().name));

    if (type == OpenType::ForwardOnly) {
        m_forwardQuery
            = std::make_unique<DaoStatement>(*connection, sql, filter.values, readContext());
        m_connection = std::move(connection);
        m_forwardOnly = true;
        m_rows.resize(1);
        readNextForwardRow();
        return;
    }

    std::vector<Row> rows;
    {
        QSqlQuery query = connection->Execute(sql, filter.values, readContext());
        while (query.next())
            rows.push_back(rowFrom(query));
        if (query.lastError().isValid())
            throw DaoExceptionFromSqlError(query.lastError(), readContext());
    }

    m_connection = std::move(connection);
    m_rows = std::move(rows);
    m_liveRows = int(m_rows.size());
    m_editMode = EditMode::None;
    if (m_rows.empty()) {
        m_position = 0;
        m_bof = m_eof = true;
    } else {
        moveTo(0);
    }
}

QString CDaoRecordset::databasePath() const
{
    return AbsoluteDatabaseName(GetDefaultDBName());
}

QString CDaoRecordset::readContext() const
{
    return QStringLiteral("Cannot read table %1 of %2").arg(tableName(), databasePath());
}

void CDaoRecordset::readNextForwardRow()
{
    m_editMode = EditMode::None;
    // A failed step ends the read: the statement is finished, the record set at its end.
    bool more = false;
    try {
        more = m_forwardQuery && m_forwardQuery->next();
    } catch (const CDaoException&) {
        m_forwardQuery.reset();
        m_eof = true;
        throw;
    }
    if (more) {
        // Converted straight from SQLite's values: the row is used once, as it is read.
        Row& row = m_rows.front();
        row.id = m_forwardQuery->value(0).toInt();
        row.values.clear();
        for (std::size_t i = 0; i < m_columns.size(); ++i)
            row.values.push_back(m_forwardQuery->fieldValue(int(i), m_columns[i], m_tableName, row.id));
        row.converted = true;
        ++m_liveRows;
        m_position = 0;
        m_bof = m_eof = false;
        loadCurrentRowIntoMembers();
        return;
    }
    // Past the last row: the statement ends, so the file is no longer held open for it.
    m_forwardQuery.reset();
    m_position = 1;
    m_eof = true;
    m_bof = m_liveRows == 0;
}

void CDaoRecordset::requireSnapshot() const
{
    requireOpen();
    if (m_forwardOnly)
        throw CDaoException(CDaoException::Kind::Other,
            QStringLiteral("The record set reads forward only: it can only move to the next "
                           "row, not back, search or change rows."));
}

void CDaoRecordset::Close()
{
    m_forwardQuery.reset();
    m_forwardOnly = false;
    m_connection.reset();
    m_rows.clear();
    m_liveRows = 0;
    m_nLastAddedId = 0;
    m_fieldCache.clear();
    m_editMode = EditMode::None;
    m_position = -1;
    m_bof = m_eof = true;
}

bool CDaoRecordset::IsOpen() const
{
    return m_connection != nullptr;
}

void CDaoRecordset::requireOpen() const
{
    if (!IsOpen())
        throw CDaoException(
            CDaoException::Kind::Other, QStringLiteral("The record set is not open."));
}

const CDaoRecordset::Row& CDaoRecordset::requireCurrentRow() const
{
    requireOpen();
    if (m_position < 0 || m_position >= std::ptrdiff_t(m_rows.size()) || m_rows[m_position].deleted)
        throw noCurrentRecord();
    return m_rows[m_position];
}

bool CDaoRecordset::IsBOF() const
{
    return m_bof;
}

bool CDaoRecordset::IsEOF() const
{
    return m_eof;
}

std::vector<DaoFieldValue> CDaoRecordset::storeMembers()
{
    std::vector<DaoFieldValue> values;
    values.reserve(m_columns.size());
    CDaoFieldExchange fx(CDaoFieldExchange::Operation::StoreMembers, m_columns, values);
    DoFieldExchange(fx);
    return values;
}

void CDaoRecordset::loadMembers(std::vector<DaoFieldValue>& values)
{
    CDaoFieldExchange fx(CDaoFieldExchange::Operation::LoadMembers, m_columns, values);
    DoFieldExchange(fx);
}

std::vector<DaoFieldValue>& CDaoRecordset::currentValues()
{
    requireCurrentRow();
    Row& row = m_rows[m_position];
    if (!row.converted) {
        std::vector<DaoFieldValue> values;
        for (std::size_t i = 0; i < m_columns.size(); ++i)
            values.push_back(
                DaoValueFromSql(row.stored.value(int(i)), m_columns[i], tableName(), row.id));
        row.values = std::move(values);
        row.converted = true;
    }
    return row.values;
}

void CDaoRecordset::loadCurrentRowIntoMembers()
{
    loadMembers(currentValues());
}

// Index of the first row that is not deleted, starting at `from` and going by `step`;
// -1 or m_rows.size() when there is none.
std::ptrdiff_t CDaoRecordset::nextLiveRow(std::ptrdiff_t from, int step) const
{
    std::ptrdiff_t index = from;
    while (index >= 0 && index < std::ptrdiff_t(m_rows.size()) && m_rows[index].deleted)
        index += step;
    return index;
}

void CDaoRecordset::moveTo(std::ptrdiff_t index)
{
    m_editMode = EditMode::None;
    m_position = index;
    m_bof = index < 0;
    m_eof = index >= std::ptrdiff_t(m_rows.size());
    if (m_liveRows == 0)
        m_bof = m_eof = true;
    if (!m_bof && !m_eof)
        loadCurrentRowIntoMembers();
}

void CDaoRecordset::MoveLast()
{
    requireSnapshot();
    const std::ptrdiff_t index = nextLiveRow(std::ptrdiff_t(m_rows.size()) - 1, -1);
    if (index < 0)
        throw noCurrentRecord();
    moveTo(index);
}

void CDaoRecordset::MoveNext()
{
    requireOpen();
    if (m_eof)
        throw noCurrentRecord();
    if (m_forwardOnly) {
        readNextForwardRow();
        return;
    }
    moveTo(nextLiveRow(m_position + 1, 1));
}
