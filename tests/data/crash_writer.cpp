// Writes to the database named on its command line as fast as it can until it is
// killed: queues messages, records an attempt for each recipient and now and then
// deletes a message, the way the program and quillpost-send write. It prints "queued ID"
// after each commit and "deleting ID" before a deletion, so that the test knows what
// must survive a kill.
//     crash_writer DATABASE SEED
#include "dispatch/MessageQueue.h"
#include "dispatch/SendResult.h"
#include "platform/db/DaoConnection.h"
#include "platform/db/DaoException.h"
#include "platform/db/DaoRecordset.h"

#include <QCoreApplication>
#include <QSqlQuery>
#include <QTextStream>
#include <algorithm>
#include <random>

namespace {

std::vector<std::int32_t> ReadUserIds(const QString& path)
{
    DaoConnection connection(path);
    QSqlQuery query = connection.Execute("SELECT ID FROM Users", {}, "users");
    std::vector<std::int32_t> ids;
    while (query.next())
        ids.push_back(query.value(0).toInt());
    return ids;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 3)
        return 2;
    const QString path = QString::fromLocal8Bit(argv[1]);
    CDaoRecordset::SetDefaultDatabaseName(path);
    std::mt19937 random(static_cast<unsigned>(std::atoi(argv[2])));
    QTextStream out(stdout);
    try {
        std::vector<std::int32_t> users = ReadUserIds(path);
        std::optional<std::int32_t> previous;
        for (int n = 0;; ++n) {
            std::shuffle(users.begin(), users.end(), random);
            const std::size_t count = 1 + random() % std::min<std::size_t>(users.size(), 6);
            const std::vector<std::int32_t> recipients(users.begin(), users.begin() + count);
            const std::optional<std::int32_t> id
                = QueueMessage(QStringLiteral("Crash test %1 to %2 recipients").arg(n).arg(count),
                    COleDateTime(2026, 1, 1, 0, 0, 0), recipients);
            out << "queued " << *id << Qt::endl;
            for (std::int32_t recipient : recipients)
                RecordAttemptResult({ *id, recipient, random() % 2 ? kStatusSent : kStatusWaiting,
                    "1001", "North", "211 Page(s) Sent" });
            if (previous && n % 4 == 3) {
                out << "deleting " << *previous << Qt::endl;
                DeleteMessageRows(*previous);
            }
            previous = id;
        }
    } catch (const CDaoException& failure) {
        QTextStream(stderr) << failure.reason() << Qt::endl;
        return 1;
    }
}
