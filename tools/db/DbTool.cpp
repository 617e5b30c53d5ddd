#include "DbTool.h"

#include "data/SendHistory.h"
#include "platform/db/DaoConnection.h"
#include "platform/db/DaoException.h"
#include "platform/db/DatabaseSchema.h"

#include <QFile>

namespace {

const QString DefaultFile = QStringLiteral("Quillpost.mdb");

void printUsage(QTextStream& stream)
{
    stream << "Usage:\n"
              "  quillpost-db init [--demo] [FILE]   create a Quillpost database (FILE defaults to "
              "./Quillpost.mdb);\n"
              "                                      --demo adds a small address book and a few "
              "messages\n"
              "  quillpost-db check [FILE]           say whether FILE is a usable Quillpost "
              "database\n"
              "  quillpost-db log [FILE]             print every attempt to deliver a page, oldest "
              "first,\n"
              "                                      one per line, tab-separated: time, message "
              "ID,\n"
              "                                      recipient ID, recipient, pager ID, provider, "
              "outcome\n"
              "                                      (sent, failed, failed for good), what the "
              "terminal said\n";
}

int init(const QStringList& arguments, QTextStream& out, QTextStream& err)
{
    bool demo = false;
    QStringList files;
    for (const QString& argument : arguments) {
        if (argument == QLatin1String("--demo"))
            demo = true;
        else if (argument.startsWith(QLatin1Char('-')) && argument != QLatin1String("-"))
            return printUsage(err), 2;
        else
            files.append(argument);
    }
    if (files.size() > 1)
        return printUsage(err), 2;
    const QString path = files.isEmpty() ? DefaultFile : files.front();

    try {
        CreateQuillpostDatabase(path);
    } catch (const CDaoException& refused) {
        err << "quillpost-db: " << refused.reason() << '\n';
        return 1;
    }
    if (demo) {
        try {
            AddDemoData(path);
        } catch (const CDaoException& failure) {
            // The file is ours and only half made: remove it rather than leave it.
            QFile::remove(path);
            err << "quillpost-db: " << failure.reason() << '\n';
            return 1;
        }
    }
    out << "Created " << path << (demo ? " with demo data" : "") << ".\n";
    return 0;
}

int check(const QStringList& arguments, QTextStream& out, QTextStream& err)
{
    if (arguments.size() > 1
        || (!arguments.isEmpty() && arguments.front().startsWith(QLatin1Char('-'))))
        return printUsage(err), 2;
    const QString path = arguments.isEmpty() ? DefaultFile : arguments.front();
    const QStringList problems = FindDatabaseProblems(path);
    if (problems.isEmpty()) {
        out << path << " is a usable Quillpost database.\n";
        return 0;
    }
    out << path << " is not a usable Quillpost database:\n";
    for (const QString& problem : problems)
        out << "  " << problem << '\n';
    return 1;
}

// A field of a log line: tabs and line breaks would split it.
QString logField(const QVariant& value)
{
    QString text = value.toString();
    for (QChar& c : text) {
        if (c == QLatin1Char('\t') || c == QLatin1Char('\n') || c == QLatin1Char('\r'))
            c = QLatin1Char(' ');
    }
    return text;
}

void printLog(const QString& path, QTextStream& out)
{
    DaoConnection connection(path);
    const bool hasLog = connection
                            .Execute(QStringLiteral("SELECT 1 FROM sqlite_master WHERE type = "
                                                    "'table' AND name = 'SendLog'"),
                                {}, QStringLiteral("Cannot read %1").arg(path))
                            .next();
    if (!hasLog)
        return; // no attempt recorded in this database yet
    QSqlQuery rows = connection.Execute(
        QStringLiteral("SELECT L.AttemptTime, L.MessageId, L.Recipient, U.Name, L.PagerId, "
                       "L.Provider, L.Outcome, L.TerminalLine FROM SendLog L LEFT JOIN Users U "
                       "ON U.ID = L.Recipient ORDER BY L.ID"),
        {}, QStringLiteral("Cannot read the send log of %1").arg(path));
    while (rows.next()) {
        QStringList fields;
        for (int column = 0; column < 8; ++column)
            fields << (column == 6 ? OutcomeName(rows.value(column).toInt())
                                   : logField(rows.value(column)));
        out << fields.join(QLatin1Char('\t')) << '\n';
    }
}

int showLog(const QStringList& arguments, QTextStream& out, QTextStream& err)
{
    if (arguments.size() > 1
        || (!arguments.isEmpty() && arguments.front().startsWith(QLatin1Char('-'))))
        return printUsage(err), 2;
    const QString path = arguments.isEmpty() ? DefaultFile : arguments.front();
    try {
        printLog(path, out);
    } catch (const CDaoException& failure) {
        err << "quillpost-db: " << failure.reason() << '\n';
        return 1;
    }
    return 0;
}

} // namespace

int RunDbTool(const QStringList& arguments, QTextStream& out, QTextStream& err)
{
    const QString command = arguments.value(0);
    int status = 2;
    if (command == QLatin1String("init"))
        status = init(arguments.mid(1), out, err);
    else if (command == QLatin1String("check"))
        status = check(arguments.mid(1), out, err);
    else if (command == QLatin1String("log"))
        status = showLog(arguments.mid(1), out, err);
    else if (command == QLatin1String("--help") || command == QLatin1String("-h")
        || command == QLatin1String("help"))
        status = (printUsage(out), 0);
    else
        printUsage(err);
    out.flush();
    err.flush();
    return status;
}
