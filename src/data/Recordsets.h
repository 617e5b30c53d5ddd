#pragma once

#include "platform/db/DaoRecordset.h"

#include <cstddef>
#include <cstdint>

// One record set per table, each bound to every column in table order, with one
// member per column named after it. Construct, set m_strFilter to read only some rows,
// Open (a connection of its own to Quillpost.mdb in the working directory), walk, Edit
// or AddNew, set members, Update, Close. Every failure throws CDaoException.

class CUsersRecordset : public CDaoRecordset
{
public:
    // The record sets always open their own database; the argument is accepted so
    // that they can be constructed the way the rest of the program names them.
    explicit CUsersRecordset(std::nullptr_t = nullptr) { }

    QString GetDefaultSQL() const override { return QStringLiteral("[Users]"); }
    void DoFieldExchange(CDaoFieldExchange& fx) override;

    std::int32_t m_ID = 0;
    QString m_Name;
    QString m_TelephoneNumber;
    std::int32_t m_PreferredProvider = 0;
    std::int32_t m_Group1 = 0;
    std::int32_t m_Group2 = 0;
    std::int32_t m_Group3 = 0;
    std::int32_t m_Group4 = 0;
    std::int32_t m_Group5 = 0;
    std::int32_t m_Group6 = 0;
    std::int32_t m_Group7 = 0;
    std::int32_t m_Group8 = 0;
    std::int32_t m_Group9 = 0;
    std::int32_t m_Group10 = 0;
};

class CGroupsRecordset : public CDaoRecordset
{
public:
    explicit CGroupsRecordset(std::nullptr_t = nullptr) { }

    QString GetDefaultSQL() const override { return QStringLiteral("[Groups]"); }
    void DoFieldExchange(CDaoFieldExchange& fx) override;

    std::int32_t m_ID = 0;
    QString m_GroupName;
};

class CServiceProvidersRecordset : public CDaoRecordset
{
public:
    explicit CServiceProvidersRecordset(std::nullptr_t = nullptr) { }

    QString GetDefaultSQL() const override { return QStringLiteral("[ServiceProviders]"); }
    void DoFieldExchange(CDaoFieldExchange& fx) override;

    std::int32_t m_ID = 0;
    QString m_ServiceName;
    QString m_AccessNumber;
    std::int32_t m_BaudRate = 0;
    std::int32_t m_StopBits = 0;
    std::int32_t m_Parity = 0;
    std::int32_t m_DataBits = 0;
    std::int32_t m_TAPType = 0;
    std::int32_t m_UseAsDefault = 0;
    QString m_Password;
};

class CMessagesRecordset : public CDaoRecordset
{
public:
    explicit CMessagesRecordset(std::nullptr_t = nullptr) { }

    QString GetDefaultSQL() const override { return QStringLiteral("[Messages]"); }
    void DoFieldExchange(CDaoFieldExchange& fx) override;

    std::int32_t m_ID = 0;
    std::int32_t m_Recipient = 0;
    std::int32_t m_MessageCount = 0;
    std::int32_t m_MessageId = 0;
    QString m_Text;
    std::int32_t m_Status = 0;
    COleDateTime m_SendTime;
    COleDateTime m_RequestTime;
    COleDateTime m_RequiredSendTime;
    std::int32_t m_Retries = 0;
};

// The send log (SendLog.h): a database made before the log existed lacks the table
// until the first attempt is recorded.
class CSendLogRecordset : public CDaoRecordset
{
public:
    explicit CSendLogRecordset(std::nullptr_t = nullptr) { }

    QString GetDefaultSQL() const override { return QStringLiteral("[SendLog]"); }
    void DoFieldExchange(CDaoFieldExchange& fx) override;

    std::int32_t m_ID = 0;
    COleDateTime m_AttemptTime;
    std::int32_t m_MessageId = 0;
    std::int32_t m_Recipient = 0;
    QString m_PagerId;
    QString m_Provider;
    std::int32_t m_Outcome = 0; // the Status the attempt left (a MessageStatus)
    QString m_TerminalLine;
};
