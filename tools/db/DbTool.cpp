#include "DbTool.h"

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
              "database\n";
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

} // namespace

int RunDbTool(const QStringList& arguments, QTextStream& out, QTextStream& err)
{
    const QString command = arguments.value(0);
    int status = 2;
    if (command == QLatin1String("init"))
        status = init(arguments.mid(1), out, err);
    else if (command == QLatin1String("check"))
        status = check(arguments.mid(1), out, err);
    else if (command == QLatin1String("--help") || command == QLatin1String("-h")
        || command == QLatin1String("help"))
        status = (printUsage(out), 0);
    else
        printUsage(err);
    out.flush();
    err.flush();
    return status;
}
