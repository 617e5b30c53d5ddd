#include "DbTool.h"
#include "data/MessageStatus.h"
#include "platform/db/DaoConnection.h"
#include "platform/db/OleDateTime.h"

#include <QDateTime>
#include <QSqlError>
#include <QSqlQuery>
#include <algorithm>
#include <array>

namespace {

struct DemoUser
{
    const char* name;
    const char* pager;
    int provider; // 0 default, else the index + 1 of the demo providers
    std::array<int, 3> groups; // indexes + 1 of the demo groups, 0 unused
};

struct DemoMessage
{
    const char* text;
    std::array<int, 3> recipients; // indexes + 1 of the demo users, 0 unused
    int minutesFromNow; // when it is due
    MessageStatus status;
};

constexpr std::array<const char*, 3> Groups { "Night Shift", "Maintenance", "Duty Managers" };

constexpr std::array<DemoUser, 8> Users { {
    { "Alice Marsh", "07700900101", 0, { 1, 3, 0 } },
    { "Ben Okafor", "07700900102", 0, { 1, 0, 0 } },
    { "Chloe Dunn", "07700900103", 2, { 2, 0, 0 } },
    { "Dev Patel", "07700900104", 0, { 2, 1, 0 } },
    { "Erin Walsh", "07700900105", 0, { 3, 0, 0 } },
    { "Finn Gallagher", "07700900106", 2, { 2, 0, 0 } },
    { "Gwen Harper", "07700900107", 3, { 1, 0, 0 } },
    { "Hugo Lindqvist", "07700900108", 3, { 3, 0, 0 } },
} };

constexpr std::array<DemoMessage, 5> Messages { {
    { "Car park closed on Saturday for resurfacing.", { 1, 2, 0 }, -24 * 60, MessageStatus::Sent },
    { "Night shift briefing moved to 21:30 in the east office.", { 1, 2, 4 }, -1,
        MessageStatus::Waiting },
    { "Boiler 2 pressure alarm - please check the plant room.", { 3, 6, 0 }, -2,
        MessageStatus::Waiting },
    { "Reminder: duty rota for next week is on the board.", { 5, 0, 0 }, 15,
        MessageStatus::Waiting },
    { "Server room temperature at 31 C - air conditioning unit 1 has tripped.", { 7, 8, 0 }, -1,
        MessageStatus::Waiting },
} };

QString localText(const QDateTime& when)
{
    const QDateTime local = when.toLocalTime();
    const QDate date = local.date();
    const QTime time = local.time();
    return COleDateTime(
        date.year(), date.month(), date.day(), time.hour(), time.minute(), time.second())
        .ToText();
}

class DemoWriter
{
public:
    explicit DemoWriter(const QString& path)
        : m_connection(path)
    {
    }

    // The ID the new row was given; a server says it only when asked for it.
    int insert(const QString& sql, const QVariantList& values)
    {
        if (!m_connection.IsOnServer())
            return execute(sql, values).lastInsertId().toInt();
        QSqlQuery inserted = execute(sql + QStringLiteral(" RETURNING ID"), values);
        return inserted.next() ? inserted.value(0).toInt() : 0;
    }

    void run(const QString& sql) { execute(sql, {}); }

private:
    QSqlQuery execute(const QString& sql, const QVariantList& values)
    {
        return m_connection.Execute(sql, values, QStringLiteral("Cannot add the demo data"));
    }

public:

private:
    DaoConnection m_connection;
};

} // namespace

void AddDemoData(const QString& path)
{
    DemoWriter writer(path);
    writer.run(QStringLiteral("BEGIN"));

    QList<int> groupIds;
    for (const char* name : Groups)
        groupIds.append(writer.insert(QStringLiteral("INSERT INTO Groups (GroupName) VALUES (?)"),
            { QString::fromUtf8(name) }));

    // TAP terminals expect 7 data bits, even parity, 1 stop bit; the WCTP gateway is
    // reached by URL and uses none of the line settings.
    const QString provider = QStringLiteral(
        "INSERT INTO ServiceProviders (ServiceName, AccessNumber, BaudRate, StopBits, "
        "Parity, DataBits, TAPType, UseAsDefault, Password) VALUES (?, ?, ?, 1, 1, 7, 1, ?, '')");
    const QList<int> providerIds {
        writer.insert(provider,
            { QStringLiteral("Northmoor Paging"), QStringLiteral("01632960100"), 1200, 1 }),
        writer.insert(provider,
            { QStringLiteral("Coastal Messaging"), QStringLiteral("01632960200"), 2400, 0 }),
        writer.insert(provider,
            { QString::fromUtf8(kDemoWctpProvider), QString::fromUtf8(kDemoWctpAccessNumber), 9600,
                0 }),
    };

    QList<int> userIds;
    for (const DemoUser& user : Users) {
        QVariantList values { QString::fromUtf8(user.name), QString::fromUtf8(user.pager),
            user.provider == 0 ? 0 : providerIds[user.provider - 1] };
        for (int group : user.groups)
            values.append(group == 0 ? 0 : groupIds[group - 1]);
        userIds.append(writer.insert(
            QStringLiteral("INSERT INTO Users (Name, TelephoneNumber, PreferredProvider, "
                           "Group1, Group2, Group3) VALUES (?, ?, ?, ?, ?, ?)"),
            values));
    }

    const QDateTime now = QDateTime::currentDateTime();
    for (const DemoMessage& message : Messages) {
        const QDateTime due = now.addSecs(message.minutesFromNow * 60);
        const QString queued = localText(due.addSecs(-10 * 60));
        const int count = int(std::count_if(
            message.recipients.begin(), message.recipients.end(), [](int r) { return r != 0; }));
        int messageId = 0;
        for (int recipient : message.recipients) {
            if (recipient == 0)
                continue;
            const int row = writer.insert(
                QStringLiteral(
                    "INSERT INTO Messages (Recipient, MessageCount, MessageId, Text, Status, "
                    "SendTime, "
                    "RequestTime, RequiredSendTime, Retries) VALUES (?, ?, ?, ?, ?, ?, ?, ?, 0)"),
                { userIds[recipient - 1], count, messageId, QString::fromUtf8(message.text),
                    StatusValue(message.status),
                    message.status == MessageStatus::Sent ? localText(due) : queued, queued,
                    localText(due) });
            // A message is known by the ID of its first row, which all its rows carry.
            if (messageId == 0) {
                messageId = row;
                writer.insert(
                    QStringLiteral("UPDATE Messages SET MessageId = ? WHERE ID = ?"), { row, row });
            }
        }
    }
    writer.run(QStringLiteral("COMMIT"));
}
