#pragma once

#include "platform/db/OleDateTime.h"

#include <QString>
#include <cstdint>
#include <variant>
#include <vector>

// The value of one bound column, as the record set caches it.
using DaoFieldValue = std::variant<std::int32_t, QString, COleDateTime>;

enum class DaoColumnType
{
    Counter,
    Long,
    Text,
    DateTime
};

struct DaoColumn
{
    QString name;
    DaoColumnType type;
};

// Moves values between a record set's members and its cached rows. A record set's
// DoFieldExchange names each bound column once, in table order; the exchange either
// lists the columns, copies a row's values into the members, or copies the members
// out so that they can be compared with the cache and written.
class CDaoFieldExchange
{
public:
    enum class Operation
    {
        ListColumns,
        LoadMembers,
        StoreMembers
    };

    CDaoFieldExchange(
        Operation operation, std::vector<DaoColumn>& columns, std::vector<DaoFieldValue>& values);

    // The auto-numbered ID: read like a Long, never written by an update.
    void Counter(const char* column, std::int32_t& member);
    void Long(const char* column, std::int32_t& member);
    // Text columns hold at most 255 characters.
    void Text(const char* column, QString& member);
    void DateTime(const char* column, COleDateTime& member);

private:
    template <typename T> void exchange(const char* column, DaoColumnType type, T& member);

    Operation m_operation;
    std::vector<DaoColumn>& m_columns;
    std::vector<DaoFieldValue>& m_values;
    std::size_t m_index = 0;
};
