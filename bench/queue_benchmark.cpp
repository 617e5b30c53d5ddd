// Prints how long queueing one message to many recipients takes, on an empty Messages
// table and on one that already holds many rows. Run by hand:
// queue_benchmark [recipients] [rows already queued].

#include "dispatch/MessageQueue.h"
#include "platform/db/DaoConnection.h"
#include "platform/db/DatabaseSchema.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTextStream>

namespace {

void measure(int recipients, int existingRows)
{
    // A database of its own in a temporary folder, made the current directory, where
    // the record sets look for Quillpost.mdb.
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("Quillpost.mdb"));
    CreateQuillpostDatabase(path);
    QDir::setCurrent(folder.path());
    DaoConnection(path).Execute(
        QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n "
                       "WHERE i < ?) INSERT INTO Messages (Recipient, MessageCount, "
                       "MessageId, Text, Status, SendTime, RequestTime, RequiredSendTime, "
                       "Retries) SELECT i % 1000 + 1, 4, (i - 1) / 4 * 4 + 1, 'queued before', "
                       "1, '2026-01-01 12:00:00', '2026-01-01 12:00:00', "
                       "'2026-01-01 12:00:00', 0 FROM n"),
        { existingRows }, QStringLiteral("Filling the Messages table failed"));
    std::vector<std::int32_t> ids;
    for (int i = 1; i <= recipients; ++i)
        ids.push_back(i);

    QElapsedTimer timer;
    timer.start();
    QueueMessage(QStringLiteral("Benchmark"), COleDateTime(2026, 1, 1, 12, 0, 0), ids);
    QTextStream(stdout) << "queue to " << recipients << " recipients over " << existingRows
                        << " rows: " << timer.elapsed() << " ms\n";
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    const int recipients = argc > 1 ? QString(argv[1]).toInt() : 1000;
    const int existingRows = argc > 2 ? QString(argv[2]).toInt() : 200000;
    if (existingRows > 0) {
        // Only the INSERT below fills the table when the recursion has a row to start from.
        measure(recipients, 1);
    }
    measure(recipients, existingRows);
    return 0;
}
