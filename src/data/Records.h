#pragma once

#include "data/MessageStatus.h"

#include <QString>
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

// Whole seconds since 1 January 1970 UTC, as the in-memory model holds every time.
using QuillTime = std::int32_t;

// One Users row.
class CUser
{
public:
    virtual ~CUser() = default;

    std::int32_t m_id = 0;
    QString m_name;
    std::int32_t m_preferredProvider = 0; // 0: the default provider
    QString m_telephoneNumber;
    std::array<std::int32_t, 10> m_groupIds {}; // Group1 .. Group10, 0 when unused
};

// One Groups row.
class CGroup
{
public:
    virtual ~CGroup() = default;

    std::int32_t m_id = 0;
    QString m_name;
};

// One ServiceProviders row.
class CServiceProvider
{
public:
    virtual ~CServiceProvider() = default;

    std::int32_t m_id = 0;
    QString m_serviceName;
    QString m_accessNumber;
    std::int32_t m_baudRate = 0;
    std::int32_t m_parity = 0; // 0 none, 1 even, 2 odd
    std::int32_t m_dataBits = 0;
    std::int32_t m_stopBits = 0;
    std::int32_t m_tapType = 0;
    bool m_useAsDefault = false; // true exactly when UseAsDefault is 1
};

// One Messages row inside its message.
class CRecipientEntry
{
public:
    virtual ~CRecipientEntry() = default;

    std::int32_t m_recipient = 0; // a Users.ID
    std::int32_t m_messageId = 0;
    std::int32_t m_status = 0; // a MessageStatus, as stored
    QuillTime m_sendTime = 0;
    std::int32_t m_retries = 0; // failed attempts so far
};

// One message: a run of Messages rows with the same MessageId, in table order.
class CSendJob
{
public:
    virtual ~CSendJob() = default;

    // Deep copy: the six fields and a new entry for each of the source's entries.
    void CopyFrom(const CSendJob& source);

    std::vector<std::unique_ptr<CRecipientEntry>> m_recipients;
    std::int32_t m_id = 0; // ID of the first row read for the message
    QuillTime m_requestTime = 0;
    QuillTime m_requiredSendTime = 0;
    QString m_text;
    std::int32_t m_status = 0; // Status of the first row
    std::int32_t m_messageId = 0;
};
