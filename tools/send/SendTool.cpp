#include "SendTool.h"

#include "RecipientNames.h"
#include "data/MessageStatus.h"
#include "data/SendHistory.h"
#include "dispatch/MessageQueue.h"
#include "platform/OptionValue.h"
#include "platform/db/DaoException.h"
#include "platform/db/DaoRecordset.h"

#include <QDeadlineTimer>
#include <QThread>

namespace {

struct SendRequest
{
    QString database;
    QString at;
    QStringList recipients;
    QStringList words;
    bool wait = false;
    int waitSeconds = kDefaultWaitSeconds;
    bool help = false;
};

// Parses the arguments; the usage error, empty when they are understood.
QString parse(const QStringList& arguments, SendRequest& request)
{
    QString error;
    bool optionsEnded = false;
    for (qsizetype i = 0; i < arguments.size() && error.isEmpty(); ++i) {
        const QString& argument = arguments.at(i);
        QString value;
        if (optionsEnded || argument == QLatin1String("-") || !argument.startsWith(QLatin1Char('-')))
            request.words << argument;
        else if (argument == QLatin1String("--"))
            optionsEnded = true;
        else if (argument == QLatin1String("--help") || argument == QLatin1String("-h"))
            request.help = true;
        else if (argument == QLatin1String("--wait"))
            request.wait = true;
        else if (argument.startsWith(QLatin1String("--wait="))) {
            bool ok = false;
            request.wait = true;
            request.waitSeconds = argument.mid(7).toInt(&ok);
            if (!ok || request.waitSeconds <= 0)
                error = QStringLiteral("--wait takes a whole number of seconds above 0.");
        } else if (TakeOptionValue(arguments, i, QStringLiteral("--to"), QStringLiteral("-t"), value, error))
            request.recipients << value;
        else if (TakeOptionValue(arguments, i, QStringLiteral("--db"), {}, request.database, error)
            || TakeOptionValue(arguments, i, QStringLiteral("--at"), {}, request.at, error))
            continue;
        else
            error = QStringLiteral("Unknown option: %1").arg(argument);
    }
    if (error.isEmpty() && !request.help && request.recipients.isEmpty())
        error = QStringLiteral("Name at least one recipient with --to.");
    return error;
}

QString composedText(const SendRequest& request, QTextStream& in)
{
    const bool fromInput = request.words.isEmpty() || request.words == QStringList { QStringLiteral("-") };
    return JoinedLines(fromInput ? in.readAll() : request.words.join(QLatin1Char(' '))).trimmed();
}

// Waits until no row of the message is waiting any more, or the time is up, and says
// how each recipient's page ended.
int waitForOutcome(std::int32_t messageId, const CRecipientNames& names, int seconds,
    int pollMs, QTextStream& out, QTextStream& err)
{
    const QDeadlineTimer deadline { std::chrono::seconds(seconds) };
    std::vector<RecipientState> states;
    for (;;) {
        states = ReadRecipientStates(messageId);
        const bool settled = std::none_of(states.begin(), states.end(),
            [](const RecipientState& state) { return state.status == MessageStatus::Waiting; });
        if (settled || deadline.hasExpired())
            break;
        QThread::msleep(static_cast<unsigned long>(pollMs));
    }
    if (states.empty()) {
        err << "Message " << messageId << " was deleted before every page went out.\n";
        return kSendFailed;
    }
    int exitStatus = kSendQueued;
    for (const RecipientState& state : states) {
        out << names.NameOf(state.recipient) << " (#" << state.recipient << "): " << DescribeRecipientState(state)
            << '\n';
        if (state.status == MessageStatus::Failed)
            exitStatus = kSendFailed;
        else if (state.status == MessageStatus::Waiting && exitStatus == kSendQueued)
            exitStatus = kSendTimedOut;
    }
    if (exitStatus == kSendTimedOut)
        err << "Time ran out after " << seconds << " s with pages still waiting.\n";
    return exitStatus;
}

} // namespace

QString SendToolUsage()
{
    return QStringLiteral(
        "Usage: quillpost-send [--db FILE] [--at \"YYYY-MM-DD HH:MM[:SS]\"] [--wait[=SECONDS]]\n"
        "                      --to RECIPIENT [--to RECIPIENT ...] [TEXT ...]\n"
        "\n"
        "Queues one message for the recipients; the dispatcher (the desktop program or\n"
        "quillpost --headless) sends it. Without TEXT, or with TEXT \"-\", the text is read\n"
        "from standard input; line breaks become spaces. At most 240 characters are\n"
        "accepted, of which the first 129 are sent, followed by \": Sent using Quillpost\".\n"
        "\n"
        "  -t, --to RECIPIENT  a user's or group's name (case does not matter), #ID for a\n"
        "                      user, user:NAME or group:NAME (or group:#ID) to choose\n"
        "                      between a user and a group of one name. A group stands for\n"
        "                      its members; each user is paged once.\n"
        "  --at TIME           when the message is due, local time (default: now)\n"
        "  --db FILE           the database (default: Quillpost.mdb in the working directory)\n"
        "  --wait[=SECONDS]    wait until every page was sent or failed for good, and say\n"
        "                      how each ended (default %1 seconds)\n"
        "\n"
        "Exit status: 0 queued (with --wait: all sent), 1 bad input (nothing queued),\n"
        "2 bad usage, 3 database error, 4 with --wait: some page failed for good,\n"
        "5 with --wait: time ran out.\n")
        .arg(kDefaultWaitSeconds);
}

int RunSendTool(const QStringList& arguments, QTextStream& in, QTextStream& out,
    QTextStream& err, int pollMs)
{
    SendRequest request;
    if (const QString usageError = parse(arguments, request); !usageError.isEmpty()) {
        err << "quillpost-send: " << usageError << "\n\n" << SendToolUsage();
        return kSendUsage;
    }
    if (request.help) {
        out << SendToolUsage();
        return kSendQueued;
    }

    COleDateTime due = COleDateTime::GetCurrentTime();
    if (!request.at.isEmpty()) {
        const std::optional<COleDateTime> at = COleDateTime::FromText(request.at.trimmed());
        if (!at) {
            err << "quillpost-send: \"" << request.at
                << "\" is not a date and time such as \"2026-12-24 18:30\".\n";
            return kSendBadInput;
        }
        due = *at;
    }
    const QString text = composedText(request, in);
    if (text.isEmpty()) {
        err << "quillpost-send: there is no text to send.\n";
        return kSendBadInput;
    }
    if (text.size() > kMaxComposedLength) {
        err << "quillpost-send: the text has " << text.size() << " characters; at most "
            << kMaxComposedLength << " are accepted.\n";
        return kSendBadInput;
    }

    if (!request.database.isEmpty())
        CDaoRecordset::SetDefaultDatabaseName(request.database);
    try {
        CRecipientNames names;
        QStringList refusals;
        for (const QString& recipient : request.recipients)
            if (const QString refusal = names.Add(recipient); !refusal.isEmpty())
                refusals << refusal;
        if (!refusals.isEmpty()) {
            err << "quillpost-send: " << refusals.join(QLatin1Char('\n'))
                << "\nNothing was queued.\n";
            return kSendBadInput;
        }
        const std::int32_t messageId = QueueMessage(text, due, names.Recipients()).value_or(0);
        out << "Queued message " << messageId << " for " << names.Recipients().size()
            << " recipient(s), due " << due.ToText() << ".\n";
        out.flush();
        if (!request.wait)
            return kSendQueued;
        return waitForOutcome(messageId, names, request.waitSeconds, pollMs, out, err);
    } catch (const CDaoException& failure) {
        err << "quillpost-send: " << failure.reason() << '\n';
        return kSendDatabaseError;
    }
}
