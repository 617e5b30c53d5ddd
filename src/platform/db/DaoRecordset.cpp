#include "platform/db/DaoRecordset.h"

#include "platform/db/DaoConnection.h"
#include "platform/db/DaoCriteria.h"
#include "platform/db/DaoException.h"

#include <QDir>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>

#include <limits>
#include <unordered_map>

// Values are converted from what the database holds when the row is first used, so
// that a row holding something unreadable fails only when it is reached, as a walk
// through the table would meet it.
struct CDaoRecordset::Row
{
    std::int32_t id = 0;
    QVariantList stored;
    std::vector<DaoFieldValue> values;
    bool converted = false;
    bool deleted = false;
};

namespace {

constexpr int MaxTextLength = 255;

// Brackets, not double quotes: SQLite reads a double-quoted name that matches no
// column as a string literal, which would hide a missing column.
QString quoted(const QString& identifier)
{
    return QLatin1Char('[') + identifier + QLatin1Char(']');
}

DaoFieldValue valueFromSql(const QVariant& value, const DaoColumn& column, const QString& table,
                           std::int32_t rowId)
{
    auto unusable = [&](const QString& what) {
        return CDaoException(CDaoException::Kind::Other,
                             QStringLiteral("Column %1 of row %2 in table %3 holds %4.")
                                 .arg(column.name)
                                 .arg(rowId)
                                 .arg(table, what));
    };
    switch (column.type) {
    case DaoColumnType::Counter:
    case DaoColumnType::Long: {
        if (value.isNull())
            return std::int32_t { 0 };
        bool ok = false;
        const qlonglong number = value.toLongLong(&ok);
        if (!ok)
            throw unusable(QStringLiteral("\"%1\", which is not a whole number").arg(value.toString()));
        if (number < std::numeric_limits<std::int32_t>::min() || number > std::numeric_limits<std::int32_t>::max())
            throw unusable(QStringLiteral("%1, which is out of range").arg(number));
        return static_cast<std::int32_t>(number);
    }
    case DaoColumnType::Text:
        return value.isNull() ? QString() : value.toString();
    case DaoColumnType::DateTime: {
        if (value.isNull())
            return COleDateTime();
        const std::optional<COleDateTime> dateTime = COleDateTime::FromText(value.toString());
        if (!dateTime)
            throw unusable(QStringLiteral("\"%1\", which is not a date and time").arg(value.toString()));
        return *dateTime;
    }
    }
    return std::int32_t { 0 };
}

QVariant valueToSql(const DaoFieldValue& value)
{
    if (const auto* number = std::get_if<std::int32_t>(&value))
        return QVariant(static_cast<int>(*number));
    if (const auto* text = std::get_if<QString>(&value))
        return QVariant(*text);
    return QVariant(std::get<COleDateTime>(value).ToText());
}

CDaoException noCurrentRecord()
{
    return CDaoException(CDaoException::Kind::NoCurrentRecord, QStringLiteral("There is no current record."));
}

} // namespace

CDaoRecordset::CDaoRecordset() = default;

CDaoRecordset::~CDaoRecordset()
{
    Close();
}

QString CDaoRecordset::GetDefaultDBName() const
{
    return QStringLiteral("Quillpost.mdb");
}

const std::vector<DaoColumn>& CDaoRecordset::columns()
{
    if (m_columns.empty()) {
        std::vector<DaoFieldValue> unused;
        CDaoFieldExchange fx(CDaoFieldExchange::Operation::ListColumns, m_columns, unused);
        DoFieldExchange(fx);
    }
    return m_columns;
}

QString CDaoRecordset::tableName() const
{
    QString name = GetDefaultSQL().trimmed();
    if (name.startsWith(QLatin1Char('[')) && name.endsWith(QLatin1Char(']')))
        name = name.mid(1, name.size() - 2);
    return name;
}

QString CDaoRecordset::columnList() const
{
    QStringList names;
    for (const DaoColumn& column : m_columns)
        names.append(quoted(column.name));
    return names.join(QLatin1String(", "));
}

void CDaoRecordset::Open()
{
    Close();
    columns();
    const QString path = QDir::current().absoluteFilePath(GetDefaultDBName());
    auto connection = std::make_unique<DaoConnection>(path);

    std::vector<Row> rows;
    {
        QSqlQuery query(connection->database());
        query.setForwardOnly(true);
        const QString context = QStringLiteral("Cannot read table %1 of %2").arg(tableName(), path);
        if (!query.exec(QStringLiteral("SELECT %1 FROM %2 ORDER BY %3")
                            .arg(columnList(), quoted(tableName()), quoted(m_columns.front().name))))
            throw DaoExceptionFromSqlError(query.lastError(), context);
        while (query.next()) {
            Row row;
            row.id = query.value(0).toInt();
            for (std::size_t i = 0; i < m_columns.size(); ++i)
                row.stored.append(query.value(int(i)));
            rows.push_back(std::move(row));
        }
        if (query.lastError().isValid())
            throw DaoExceptionFromSqlError(query.lastError(), context);
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

void CDaoRecordset::Close()
{
    m_connection.reset();
    m_rows.clear();
    m_liveRows = 0;
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
        throw CDaoException(CDaoException::Kind::Other, QStringLiteral("The record set is not open."));
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

int CDaoRecordset::GetRecordCount() const
{
    return m_liveRows;
}

std::vector<DaoFieldValue> CDaoRecordset::storeMembers()
{
    std::vector<DaoFieldValue> values;
    values.reserve(m_columns.size());
    CDaoFieldExchange fx(CDaoFieldExchange::Operation::StoreMembers, m_columns, values);
    DoFieldExchange(fx);
    return values;
}

void CDaoRecordset::loadMembers(const std::vector<DaoFieldValue>& values)
{
    auto copy = values;
    CDaoFieldExchange fx(CDaoFieldExchange::Operation::LoadMembers, m_columns, copy);
    DoFieldExchange(fx);
}

const std::vector<DaoFieldValue>& CDaoRecordset::currentValues()
{
    requireCurrentRow();
    Row& row = m_rows[m_position];
    if (!row.converted) {
        std::vector<DaoFieldValue> values;
        for (std::size_t i = 0; i < m_columns.size(); ++i)
            values.push_back(valueFromSql(row.stored.value(int(i)), m_columns[i], tableName(), row.id));
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
    if (GetRecordCount() == 0)
        m_bof = m_eof = true;
    if (!m_bof && !m_eof)
        loadCurrentRowIntoMembers();
}

void CDaoRecordset::MoveFirst()
{
    requireOpen();
    const std::ptrdiff_t index = nextLiveRow(0, 1);
    if (index >= std::ptrdiff_t(m_rows.size()))
        throw noCurrentRecord();
    moveTo(index);
}

void CDaoRecordset::MoveLast()
{
    requireOpen();
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
    moveTo(nextLiveRow(m_position + 1, 1));
}

void CDaoRecordset::MovePrev()
{
    requireOpen();
    if (m_bof)
        throw noCurrentRecord();
    moveTo(nextLiveRow(m_position - 1, -1));
}

bool CDaoRecordset::FindFirst(const QString& criteria)
{
    return find(criteria, 0);
}

bool CDaoRecordset::FindNext(const QString& criteria)
{
    return find(criteria, m_eof ? std::ptrdiff_t(m_rows.size()) : m_position + 1);
}

bool CDaoRecordset::find(const QString& criteria, std::ptrdiff_t from)
{
    requireOpen();
    const DaoCriteria condition = ParseDaoCriteria(criteria, m_columns);

    // The database decides which rows match, with their values as they are now.
    std::unordered_map<std::int32_t, QVariantList> matches;
    {
        QSqlQuery query(m_connection->database());
        query.setForwardOnly(true);
        query.prepare(QStringLiteral("SELECT %1 FROM %2 WHERE %3")
                          .arg(columnList(), quoted(tableName()), condition.condition));
        for (const QVariant& value : condition.values)
            query.addBindValue(value);
        const QString context = QStringLiteral("Cannot search table %1").arg(tableName());
        if (!query.exec())
            throw DaoExceptionFromSqlError(query.lastError(), context);
        while (query.next()) {
            QVariantList stored;
            for (std::size_t i = 0; i < m_columns.size(); ++i)
                stored.append(query.value(int(i)));
            matches.emplace(query.value(0).toInt(), std::move(stored));
        }
        if (query.lastError().isValid())
            throw DaoExceptionFromSqlError(query.lastError(), context);
    }

    for (std::ptrdiff_t index = std::max<std::ptrdiff_t>(from, 0); index < std::ptrdiff_t(m_rows.size()); ++index) {
        Row& row = m_rows[index];
        if (row.deleted)
            continue;
        const auto match = matches.find(row.id);
        if (match == matches.end())
            continue;
        row.stored = std::move(match->second);
        row.converted = false;
        moveTo(index);
        return true;
    }
    return false;
}

void CDaoRecordset::Edit()
{
    loadCurrentRowIntoMembers();
    m_fieldCache = currentValues();
    m_editMode = EditMode::Edit;
}

void CDaoRecordset::AddNew()
{
    requireOpen();
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

void CDaoRecordset::CancelUpdate()
{
    m_editMode = EditMode::None;
    m_fieldCache.clear();
    if (IsOpen() && !m_bof && !m_eof)
        loadCurrentRowIntoMembers();
}

void CDaoRecordset::Update()
{
    requireOpen();
    if (m_editMode == EditMode::None)
        throw CDaoException(CDaoException::Kind::Other,
                            QStringLiteral("Update was called without Edit or AddNew."));
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
                                        const std::vector<DaoFieldValue>& cache,
                                        const std::vector<DaoFieldValue>& values, const QString& table)
{
    std::vector<std::size_t> changed;
    for (std::size_t i = 0; i < columns.size(); ++i) {
        if (columns[i].type == DaoColumnType::Counter || values[i] == cache[i])
            continue;
        if (const auto* text = std::get_if<QString>(&values[i]); text && text->size() > MaxTextLength)
            throw CDaoException(CDaoException::Kind::ValueTooLong,
                                QStringLiteral("The %1 of table %2 can hold at most %3 characters; "
                                               "the value given has %4.")
                                    .arg(columns[i].name, table)
                                    .arg(MaxTextLength)
                                    .arg(text->size()));
        changed.push_back(i);
    }
    return changed;
}

} // namespace

void CDaoRecordset::writeChangedColumns()
{
    Row& row = m_rows.at(m_position);
    const std::vector<DaoFieldValue> values = storeMembers();
    const std::vector<std::size_t> changed = changedColumns(m_columns, m_fieldCache, values, tableName());
    if (changed.empty())
        return;

    QStringList assignments;
    for (std::size_t index : changed)
        assignments.append(quoted(m_columns[index].name) + QStringLiteral(" = ?"));
    QSqlQuery query(m_connection->database());
    query.prepare(QStringLiteral("UPDATE %1 SET %2 WHERE %3 = ?")
                      .arg(quoted(tableName()), assignments.join(QLatin1String(", ")),
                           quoted(m_columns.front().name)));
    for (std::size_t index : changed)
        query.addBindValue(valueToSql(values[index]));
    query.addBindValue(static_cast<int>(row.id));
    if (!query.exec())
        throw DaoExceptionFromSqlError(query.lastError(),
                                       QStringLiteral("Cannot change row %1 of table %2").arg(row.id).arg(tableName()));
    if (query.numRowsAffected() == 0) {
        row.deleted = true;
        --m_liveRows;
        throw CDaoException(CDaoException::Kind::Other,
                            QStringLiteral("Row %1 of table %2 no longer exists.").arg(row.id).arg(tableName()));
    }
    for (std::size_t index : changed)
        row.values[index] = values[index];
}

void CDaoRecordset::insertRow()
{
    const std::vector<DaoFieldValue> values = storeMembers();
    const std::vector<std::size_t> changed = changedColumns(m_columns, m_fieldCache, values, tableName());
    const QString context = QStringLiteral("Cannot add a row to table %1").arg(tableName());

    Row row;
    {
        QSqlQuery query(m_connection->database());
        if (changed.empty()) {
            query.prepare(QStringLiteral("INSERT INTO %1 DEFAULT VALUES").arg(quoted(tableName())));
        } else {
            QStringList names;
            QStringList placeholders;
            for (std::size_t index : changed) {
                names.append(quoted(m_columns[index].name));
                placeholders.append(QStringLiteral("?"));
            }
            query.prepare(QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                              .arg(quoted(tableName()), names.join(QLatin1String(", ")),
                                   placeholders.join(QLatin1String(", "))));
            for (std::size_t index : changed)
                query.addBindValue(valueToSql(values[index]));
        }
        if (!query.exec())
            throw DaoExceptionFromSqlError(query.lastError(), context);
        row.id = query.lastInsertId().toInt();
    }
    {
        // Read the row back, so that the columns not set hold what the database gave.
        QSqlQuery query(m_connection->database());
        query.setForwardOnly(true);
        query.prepare(QStringLiteral("SELECT %1 FROM %2 WHERE %3 = ?")
                          .arg(columnList(), quoted(tableName()), quoted(m_columns.front().name)));
        query.addBindValue(static_cast<int>(row.id));
        if (!query.exec() || !query.next())
            throw DaoExceptionFromSqlError(query.lastError(), context);
        for (std::size_t i = 0; i < m_columns.size(); ++i)
            row.stored.append(query.value(int(i)));
    }
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
    const Row& current = requireCurrentRow();
    QSqlQuery query(m_connection->database());
    query.prepare(QStringLiteral("DELETE FROM %1 WHERE %2 = ?").arg(quoted(tableName()), quoted(m_columns.front().name)));
    query.addBindValue(static_cast<int>(current.id));
    if (!query.exec())
        throw DaoExceptionFromSqlError(query.lastError(),
                                       QStringLiteral("Cannot delete row %1 of table %2").arg(current.id).arg(tableName()));
    m_rows[m_position].deleted = true;
    --m_liveRows;
    m_editMode = EditMode::None;
}
