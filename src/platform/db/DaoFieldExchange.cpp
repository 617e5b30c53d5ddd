#include "platform/db/DaoFieldExchange.h"

CDaoFieldExchange::CDaoFieldExchange(
    Operation operation, std::vector<DaoColumn>& columns, std::vector<DaoFieldValue>& values)
    : m_operation(operation)
    , m_columns(columns)
    , m_values(values)
{
}

template <typename T>
void CDaoFieldExchange::exchange(const char* column, DaoColumnType type, T& member)
{
    switch (m_operation) {
    case Operation::ListColumns:
        m_columns.push_back({ QString::fromLatin1(column), type });
        break;
    case Operation::LoadMembers:
        member = std::get<T>(m_values.at(m_index));
        break;
    case Operation::StoreMembers:
        m_values.emplace_back(member);
        break;
    }
    ++m_index;
}

void CDaoFieldExchange::Counter(const char* column, std::int32_t& member)
{
    exchange(column, DaoColumnType::Counter, member);
}

void CDaoFieldExchange::Long(const char* column, std::int32_t& member)
{
    exchange(column, DaoColumnType::Long, member);
}

void CDaoFieldExchange::Text(const char* column, QString& member)
{
    exchange(column, DaoColumnType::Text, member);
}

void CDaoFieldExchange::DateTime(const char* column, COleDateTime& member)
{
    exchange(column, DaoColumnType::DateTime, member);
}
