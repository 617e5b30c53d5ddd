#pragma once

#include "platform/db/DaoFieldExchange.h"

#include <QString>
#include <cstdint>
#include <memory>
#include <vector>

class DaoConnection;
class DaoStatement;
class QSqlQuery;

// A record set over one whole table of the database file in the working directory,
// with rows in ascending ID order. Each Open makes a connection of its own, which
// Close (or destruction) removes again, unless a transaction of the thread's
// workspace is open on the file: then the record set works inside it (DaoWorkspace.h).
// Derived classes bind one member per column in DoFieldExchange and name their table
// in GetDefaultSQL.
//
// A snapshot (the usual way to open) reads its rows when it opens; moving keeps to those
// rows plus the ones added through this record set. Edit and AddNew remember the
// members' values, and Update writes only the columns whose members changed since.
// Every failure throws CDaoException; nothing is caught here.
class CDaoRecordset
{
public:
    CDaoRecordset();
    virtual ~CDaoRecordset();

    CDaoRecordset(const CDaoRecordset&) = delete;
    CDaoRecordset& operator=(const CDaoRecordset&) = delete;

    // The file every record set opens unless a derived class names another:
    // Quillpost.mdb in the working directory, or the file a program named with
    // SetDefaultDatabaseName (a command-line --db option) before opening anything.
    static QString DefaultDatabaseName();
    static void SetDefaultDatabaseName(const QString& path);
    // The database every program opens, decided alike for all of them: `commandLine`
    // (their --db option) when given, else the file named by the environment variable
    // QUILLPOST_DB, else the entry "Database" of the settings' group "Quillpost", else
    // Quillpost.mdb in the working directory. Empty values count as not given.
    static QString ChooseDatabaseName(const QString& commandLine);
    // DefaultDatabaseName as an absolute path, against the working directory of now.
    static QString DefaultDatabasePath();
    virtual QString GetDefaultDBName() const;
    virtual QString GetDefaultSQL() const = 0;
    virtual void DoFieldExchange(CDaoFieldExchange& fx) = 0;

    // How an opened record set holds its rows. A snapshot reads them all at once and
    // can move through and change them; a forward-only one reads one row at a time as
    // MoveNext asks, keeps none behind, and can do nothing else (a whole-table read
    // then costs the memory of one row).
    enum class OpenType
    {
        Snapshot,
        ForwardOnly
    };

    // Opens over the whole table, or over the rows that match m_strFilter when it is
    // set, on the first row (or at both ends if there is none).
    void Open(OpenType type = OpenType::Snapshot);
    void Close();
    bool IsOpen() const;

    bool IsBOF() const;
    bool IsEOF() const;
    void MoveNext();
    void MoveLast();

    void Edit();
    void AddNew();
    // After AddNew the new row is written and gets its ID from the database; it then
    // stands last in the record set (MoveLast reaches it), and GetLastAddedID gives
    // its ID. Adding a row and reading it back are one step: when either fails the
    // row is not in the table.
    void Update();
    // The ID of the row last added through this record set since it was opened; 0
    // when none was.
    std::int32_t GetLastAddedID() const { return m_nLastAddedId; }

    // Criteria such as "ID = 4" or "MessageId = 5 AND Recipient = 3", applied by the
    // next Open: the record set then holds only the rows that match, which spares
    // reading a large table for a few rows.
    QString m_strFilter;
    // Deletes the current row; move to another row before using the members again.
    void Delete();

private:
    struct Row;
    enum class EditMode
    {
        None,
        Edit,
        AddNew
    };

    const std::vector<DaoColumn>& columns();
    QString tableName() const;
    QString columnList() const;
    // The columns as a SELECT on this connection reads them.
    QString selectList(const DaoConnection& connection) const;
    void requireOpen() const;
    void requireSnapshot() const;
    QString databasePath() const;
    QString readContext() const;
    // A row as a query holds it: its ID and each column's value as stored.
    Row rowFrom(const QSqlQuery& query) const;
    void readNextForwardRow();
    const Row& requireCurrentRow() const;
    std::vector<DaoFieldValue> storeMembers();
    void loadMembers(std::vector<DaoFieldValue>& values);
    std::vector<DaoFieldValue>& currentValues();
    void loadCurrentRowIntoMembers();
    void moveTo(std::ptrdiff_t index);
    std::ptrdiff_t nextLiveRow(std::ptrdiff_t from, int step) const;
    void writeChangedColumns();
    void insertRow();
    Row insertAndReadBack(const std::vector<DaoFieldValue>& values,
        const std::vector<std::size_t>& changed, const QString& context);

    std::vector<DaoColumn> m_columns;
    QString m_tableName; // set with m_columns
    QString m_columnList; // likewise
    // The INSERT last made by insertAndReadBack and the columns it writes.
    std::vector<std::size_t> m_insertColumns;
    QString m_insertSql;
    std::shared_ptr<DaoConnection> m_connection;
    std::int32_t m_nLastAddedId = 0;
    std::vector<Row> m_rows;
    // The query a forward-only record set reads from; null for a snapshot, and once
    // the last row has been read.
    std::unique_ptr<DaoStatement> m_forwardQuery;
    bool m_forwardOnly = false;
    // Rows held, the deleted ones not counted; forward-only, the rows read so far.
    int m_liveRows = 0;
    // -1 before the first row (BOF), m_rows.size() after the last (EOF).
    std::ptrdiff_t m_position = -1;
    bool m_bof = true;
    bool m_eof = true;
    EditMode m_editMode = EditMode::None;
    std::vector<DaoFieldValue> m_fieldCache;
};
