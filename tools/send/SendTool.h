#pragma once

#include <QStringList>
#include <QTextStream>

// quillpost-send: queues one message from the command line into the database, as the
// composition dialog does, and can wait for its outcome. See SendToolUsage() for the
// arguments and the exit statuses.
enum SendToolExit
{
    kSendQueued = 0, // queued; with --wait, sent to every recipient
    kSendBadInput = 1,
    kSendUsage = 2,
    kSendDatabaseError = 3,
    kSendFailed = 4, // with --wait: some recipient failed for good
    kSendTimedOut = 5, // with --wait: time ran out first
};

// The default wait of a bare --wait, in seconds.
inline constexpr int kDefaultWaitSeconds = 600;

QString SendToolUsage();

// Runs the tool in-process; `in` is read for the text when no text arguments are
// given. `pollMs` is how often --wait looks at the database.
int RunSendTool(const QStringList& arguments, QTextStream& in, QTextStream& out,
    QTextStream& err, int pollMs = 1000);
