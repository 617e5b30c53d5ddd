#pragma once

#include "platform/db/DaoFieldExchange.h"

#include <QString>
#include <cstdint>
#include <memory>
#include <vector>

class DaoConnection;

// A record set over one whole table of the database file in the working directory,
// with rows in ascending ID order. Each Open makes a connection of its own, which
// Close (or destruction) removes again. Derived classes bind one member per column in
// DoFieldExchange and name their table in GetDefaultSQL.
//
// The rows are read when the record set opens; moving and searching keep to those
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

    virtual QString GetDefaultDBName() const;
    virtual QString GetDefaultSQL() const = 0;
    virtual void DoFieldExchange(CDaoFieldExchange& fx) = 0;

    // Opens over the whole table, on the first row (or at both ends if it is empty).
    void Open();
    void Close();
    bool IsOpen() const;

    bool IsBOF() const;
    bool IsEOF() const;
    void MoveFirst();
    void MoveNext();
    void MovePrev();
    void MoveLast();
    // Rows this record set holds, the deleted ones not counted.
    int GetRecordCount() const;

    // Criteria such as "ID = 4" or "MessageId = 5 AND Recipient = 3". FindFirst looks
    // from the first row, FindNext from the row after the current one; both move to the
    // match and return true, or stay where they are and return false.
    bool FindFirst(const QString& criteria);
    bool FindNext(const QString& criteria);

    void Edit();
    void AddNew();
    void Update();
    void CancelUpdate();
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
    void requireOpen() const;
    const Row& requireCurrentRow() const;
    std::vector<DaoFieldValue> storeMembers();
    void loadMembers(const std::vector<DaoFieldValue>& values);
    const std::vector<DaoFieldValue>& currentValues();
    void loadCurrentRowIntoMembers();
    void moveTo(std::ptrdiff_t index);
    std::ptrdiff_t nextLiveRow(std::ptrdiff_t from, int step) const;
    bool find(const QString& criteria, std::ptrdiff_t from);
    void writeChangedColumns();
    void insertRow();

    std::vector<DaoColumn> m_columns;
    std::unique_ptr<DaoConnection> m_connection;
    std::vector<Row> m_rows;
    int m_liveRows = 0;
    // -1 before the first row (BOF), m_rows.size() after the last (EOF).
    std::ptrdiff_t m_position = -1;
    bool m_bof = true;
    bool m_eof = true;
    EditMode m_editMode = EditMode::None;
    std::vector<DaoFieldValue> m_fieldCache;
};
