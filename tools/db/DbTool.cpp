#include "DbTool.h"

#include "carrier/CarrierAddress.h"
#include "data/SendHistory.h"
#include "gateway/SnppCredentials.h"
#include "platform/db/DaoConnection.h"
#include "platform/db/DaoException.h"
#include "platform/db/DaoRecordset.h"
#include "platform/db/DatabaseLocation.h"
#include "platform/db/DatabaseSchema.h"
#include "platform/telephony/DialString.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <cerrno>
#include <cstring>
#include <optional>

#include <sys/stat.h>

namespace {

// The file a command works on when none is named: the one the programs open.
QString defaultFile()
{
    return CDaoRecordset::ChooseDatabaseName({});
}

// The database holds the providers' passwords: only its owner reads it, and its group
// too where the folder is shared with a group (setgid, or writable by its group but not
// by everyone), as when operators and the dispatcher's service user share one folder.
mode_t databaseMode(const QString& path)
{
    struct stat folder {};
    const QByteArray name = QFile::encodeName(QFileInfo(path).absolutePath());
    if (::stat(name.constData(), &folder) != 0)
        return 0600;
    const bool groupShared
        = (folder.st_mode & S_ISGID) || ((folder.st_mode & S_IWGRP) && !(folder.st_mode & S_IWOTH));
    return groupShared ? 0660 : 0600;
}

// Creates the file with its final mode from the start: a reader that opened it while it
// was readable would keep reading whatever is written to it later. SQLite makes the
// -wal and -shm files beside it with the database's own mode.
void createPrivateDatabase(const QString& path)
{
    // A server's database has the server's own access rules.
    if (IsPostgresUri(path)) {
        CreateQuillpostDatabase(path);
        return;
    }
    const mode_t mode = databaseMode(path);
    struct UmaskGuard
    {
        mode_t previous;
        ~UmaskGuard() { ::umask(previous); }
    } guard { ::umask(0777 & ~mode) };
    CreateQuillpostDatabase(path);
    // SQLite creates files 0644 at most: the group's write bit comes only from here.
    if (::chmod(QFile::encodeName(path).constData(), mode) != 0) {
        const QString reason = QString::fromLocal8Bit(std::strerror(errno));
        QFile::remove(path);
        throw CDaoException(CDaoException::Kind::Other,
            QStringLiteral("Cannot set the permissions of %1: %2").arg(path, reason));
    }
}

void printUsage(QTextStream& stream)
{
    stream << "Usage:\n"
              "  quillpost-db init [--demo] [FILE]   create a Quillpost database, readable by its "
              "owner\n"
              "                                      only (and its group, in a folder shared with "
              "one);\n"
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
              "terminal said\n"
              "  quillpost-db hash-password NAME     read a password from standard input and print "
              "the\n"
              "                                      line that lets NAME log in to the SNPP "
              "gateway\n"
              "                                      (for the file named by Gateway/SNPP "
              "Credentials)\n"
              "  quillpost-db set-access-number PROVIDER NUMBER [FILE]\n"
              "                                      give the service provider named PROVIDER "
              "the access\n"
              "                                      number or URL NUMBER, checked as the "
              "provider dialog\n"
              "                                      checks it\n"
              "FILE defaults to the file named by $QUILLPOST_DB, else by the setting Database in "
              "group\n"
              "Quillpost, else Quillpost.mdb in the working directory.\n";
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
    const QString path = files.isEmpty() ? defaultFile() : files.front();

    try {
        createPrivateDatabase(path);
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
    out << "Created " << DisplayDatabaseName(path) << (demo ? " with demo data" : "") << ".\n";
    return 0;
}

int check(const QStringList& arguments, QTextStream& out, QTextStream& err)
{
    if (arguments.size() > 1
        || (!arguments.isEmpty() && arguments.front().startsWith(QLatin1Char('-'))))
        return printUsage(err), 2;
    const QString path = arguments.isEmpty() ? defaultFile() : arguments.front();
    const QStringList problems = FindDatabaseProblems(path);
    if (problems.isEmpty()) {
        out << DisplayDatabaseName(path) << " is a usable Quillpost database.\n";
        return 0;
    }
    out << DisplayDatabaseName(path) << " is not a usable Quillpost database:\n";
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
    if (!HoldsSendLog(connection))
        return; // no attempt recorded in this database yet
    QSqlQuery rows = connection.Execute(
        QStringLiteral("SELECT L.AttemptTime, L.MessageId, L.Recipient, U.Name, L.PagerId, "
                       "L.Provider, L.Outcome, L.TerminalLine FROM SendLog L LEFT JOIN Users U "
                       "ON U.ID = L.Recipient ORDER BY L.ID"),
        {}, QStringLiteral("Cannot read the send log of %1").arg(DisplayDatabaseName(path)));
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
    const QString path = arguments.isEmpty() ? defaultFile() : arguments.front();
    try {
        printLog(path, out);
    } catch (const CDaoException& failure) {
        err << "quillpost-db: " << failure.reason() << '\n';
        return 1;
    }
    return 0;
}

// The provider dialog's rules: a URL must be well formed, a number must be one a modem
// dials without taking part of it for commands of its own.
std::optional<QString> accessNumberRefusal(const QString& number)
{
    const CarrierAddress address = ParseCarrierAddress(number);
    if (!address.IsUsable())
        return BadCarrierAddressText(address.refusal);
    if (address.NeedsLineDevice())
        if (const std::optional<QString> refused = UncallableCharacter(number))
            return BadAccessNumberText(*refused);
    return std::nullopt;
}

void storeAccessNumber(const QString& path, const QString& provider, const QString& number)
{
    DaoConnection connection(path);
    connection.RequireQuillpostTables();
    const QString context = QStringLiteral("Cannot change the access number in %1").arg(DisplayDatabaseName(path));
    QSqlQuery count = connection.Execute(
        QStringLiteral("SELECT COUNT(*) FROM ServiceProviders WHERE ServiceName = ?"), { provider },
        context);
    const int matches = count.next() ? count.value(0).toInt() : 0;
    if (matches != 1)
        throw CDaoException(CDaoException::Kind::Other,
            matches == 0 ? QStringLiteral("No service provider is named \"%1\".").arg(provider)
                         : QStringLiteral("%1 service providers are named \"%2\".")
                               .arg(matches)
                               .arg(provider));
    connection.Execute(
        QStringLiteral("UPDATE ServiceProviders SET AccessNumber = ? WHERE ServiceName = ?"),
        { number, provider }, context);
}

// Lets a script point a provider at a gateway whose address changes, as the demo's
// simulator listening on a port of the system's choosing.
int setAccessNumber(const QStringList& arguments, QTextStream& out, QTextStream& err)
{
    if (arguments.size() < 2 || arguments.size() > 3 || arguments.front().isEmpty()
        || (arguments.size() == 3 && arguments[2].startsWith(QLatin1Char('-'))))
        return printUsage(err), 2;
    const QString& provider = arguments[0];
    const QString& number = arguments[1];
    if (const std::optional<QString> refused = accessNumberRefusal(number)) {
        err << "quillpost-db: " << *refused << '\n';
        return 1;
    }
    const QString path = arguments.size() == 3 ? arguments[2] : defaultFile();
    try {
        storeAccessNumber(path, provider, number);
    } catch (const CDaoException& failure) {
        err << "quillpost-db: " << failure.reason() << '\n';
        return 1;
    }
    out << "The access number of " << provider << " is " << number << ".\n";
    return 0;
}

// Only the hash of the password is printed; the password itself is read from standard
// input, so that it shows in no process list or shell history.
int hashPassword(const QStringList& arguments, QTextStream& in, QTextStream& out, QTextStream& err)
{
    if (arguments.size() != 1 || arguments.front().isEmpty()
        || arguments.front().contains(QRegularExpression(QStringLiteral("[\\s:]"))))
        return printUsage(err), 2;
    const QString password = in.readLine();
    if (password.isEmpty()) {
        err << "quillpost-db: no password on standard input.\n";
        return 1;
    }
    out << CSnppCredentials::MakeLine(arguments.front(), password) << '\n';
    return 0;
}

} // namespace

int RunDbTool(
    const QStringList& arguments, QTextStream& out, QTextStream& err, QTextStream* in)
{
    const QString command = arguments.value(0);
    int status = 2;
    if (command == QLatin1String("init"))
        status = init(arguments.mid(1), out, err);
    else if (command == QLatin1String("check"))
        status = check(arguments.mid(1), out, err);
    else if (command == QLatin1String("log"))
        status = showLog(arguments.mid(1), out, err);
    else if (command == QLatin1String("set-access-number"))
        status = setAccessNumber(arguments.mid(1), out, err);
    else if (command == QLatin1String("hash-password")) {
        QTextStream standardInput(stdin);
        status = hashPassword(arguments.mid(1), in ? *in : standardInput, out, err);
    }
    else if (command == QLatin1String("--help") || command == QLatin1String("-h")
        || command == QLatin1String("help"))
        status = (printUsage(out), 0);
    else
        printUsage(err);
    out.flush();
    err.flush();
    return status;
}
