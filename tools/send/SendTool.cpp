#include "SendTool.h"

#include "data/MessageStatus.h"
#include "data/QuillTime.h"
#include "data/SendHistory.h"
#include "dispatch/MessageQueue.h"
#include "dispatch/RecipientNames.h"
#include "platform/OptionValue.h"
#include "platform/db/DaoException.h"
#include "platform/db/DaoRecordset.h"

#include <QDeadlineTimer>
#include <QThread>

namespace {

// More standard input than this is refused, not read: a runaway pipe must not fill the
// memory of the script or monitoring system that started the tool.
constexpr qint64 kMostInputCharacters = 64 * 1024;
// How much of a text cut off is quoted back on standard error.
constexpr qsizetype kMostCutQuoted = 60;

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
            error = QStringLiteral("Unknown option: %1").arg(argument)
                + (argument.startsWith(QLatin1String("--"))
                        ? QString()
                        : QStringLiteral(" (text that starts with \"-\" goes after \"--\")"));
    }
    if (error.isEmpty() && !request.help && request.recipients.isEmpty())
        error = QStringLiteral("Name at least one recipient with --to.");
    return error;
}

// The text as composed; nothing when standard input holds more than is read.
std::optional<QString> composedText(const SendRequest& request, QTextStream& in)
{
    const bool fromInput
        = request.words.isEmpty() || request.words == QStringList { QStringLiteral("-") };
    if (!fromInput)
        return JoinedLines(request.words.join(QLatin1Char(' '))).trimmed();
    const QString input = in.read(kMostInputCharacters + 1);
    if (input.size() > kMostInputCharacters)
        return std::nullopt;
    return JoinedLines(input).trimmed();
}

// Monitoring alerts run long; rather than lose one, its text is cut where the composing
// dialog stops the operator, and what went is said.
void reportCut(const SubmittedMessage& submitted, QTextStream& err)
{
    if (submitted.cutOff.isEmpty())
        return;
    QString cut = submitted.cutOff;
    if (cut.size() > kMostCutQuoted)
        cut = cut.left(kMostCutQuoted) + QStringLiteral("...");
    err << "quillpost-send: the text has " << submitted.composedLength
        << " characters, more than the " << kMaxComposedLength << " a message holds; cut off: \""
        << cut << "\". Of the rest, the first " << kQueuedTextLength
        << " characters are sent.\n";
}

// The due time asked for, or now; nothing (and why on `err`) when it cannot be queued.
std::optional<COleDateTime> dueTime(const QString& at, QTextStream& err)
{
    COleDateTime due = COleDateTime::GetCurrentTime();
    if (!at.isEmpty()) {
        const std::optional<COleDateTime> parsed = COleDateTime::FromText(at.trimmed());
        if (!parsed) {
            err << "quillpost-send: \"" << at
                << "\" is not a date and time such as \"2026-12-24 18:30\".\n";
            return std::nullopt;
        }
        due = *parsed;
    }
    if (const QString refusal = DueTimeRefusal(due); !refusal.isEmpty()) {
        err << "quillpost-send: " << refusal << '\n';
        return std::nullopt;
    }
    return due;
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
        "from standard input (at most 65536 characters); line breaks become spaces. Text\n"
        "that starts with \"-\" goes after \"--\", which ends the options. A text longer\n"
        "than 240 characters is cut to 240 (standard error says what was cut); the first\n"
        "129 are sent, followed by \": Sent using Quillpost\".\n"
        "\n"
        "  -t, --to RECIPIENT  a user's or group's name (case does not matter), #ID for a\n"
        "                      user, user:NAME or group:NAME (or group:#ID) to choose\n"
        "                      between a user and a group of one name. A group stands for\n"
        "                      its members; each user is paged once.\n"
        "  --at TIME           when the message is due, local time (default: now), at the\n"
        "                      latest 2038-01-19 03:14:07 UTC\n"
        "  --db FILE           the database (default: the file named by $QUILLPOST_DB, else\n"
        "                      by the setting Database in group Quillpost, else\n"
        "                      Quillpost.mdb in the working directory)\n"
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

    const std::optional<COleDateTime> due = dueTime(request.at, err);
    if (!due)
        return kSendBadInput;
    std::optional<QString> text = composedText(request, in);
    if (!text) {
        err << "quillpost-send: standard input holds more than " << kMostInputCharacters
            << " characters; nothing was queued.\n";
        return kSendBadInput;
    }
    if (text->isEmpty()) {
        err << "quillpost-send: there is no text to send.\n";
        return kSendBadInput;
    }

    CDaoRecordset::SetDefaultDatabaseName(CDaoRecordset::ChooseDatabaseName(request.database));
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
        const SubmittedMessage submitted = QueueSubmittedText(*text, *due, names.Recipients());
        reportCut(submitted, err);
        const std::int32_t messageId = submitted.messageId;
        out << "Queued message " << messageId << " for " << names.Recipients().size()
            << " recipient(s), due " << due->ToText() << ".\n";
        out.flush();
        if (!request.wait)
            return kSendQueued;
        return waitForOutcome(messageId, names, request.waitSeconds, pollMs, out, err);
    } catch (const CDaoException& failure) {
        err << "quillpost-send: " << failure.reason() << '\n';
        return kSendDatabaseError;
    }
}
