#include "platform/db/DatabaseLocation.h"

#include <QDir>
#include <QUrl>

namespace {

const QString kSchemes[] = { QStringLiteral("postgresql://"), QStringLiteral("postgres://") };

// Percent-decoding that refuses a "%" not followed by two hex digits, as libpq does.
std::optional<QString> Decode(const QString& text)
{
    for (qsizetype i = text.indexOf(QLatin1Char('%')); i >= 0;
        i = text.indexOf(QLatin1Char('%'), i + 1)) {
        const QString digits = text.mid(i + 1, 2);
        bool hex = false;
        digits.toInt(&hex, 16);
        if (digits.size() != 2 || !hex)
            return std::nullopt;
    }
    return QUrl::fromPercentEncoding(text.toUtf8());
}

std::optional<int> ReadPort(const QString& text)
{
    bool number = false;
    const int port = text.toInt(&number);
    if (!number || port < 1 || port > 65535 || text.startsWith(QLatin1Char('+')))
        return std::nullopt;
    return port;
}

// host[:port], the host a name, an address or a bracketed IPv6 address.
bool ReadHostAndPort(const QString& text, DatabaseLocation& location, QString& error)
{
    QString host = text;
    QString port;
    if (text.startsWith(QLatin1Char('['))) {
        const qsizetype close = text.indexOf(QLatin1Char(']'));
        if (close < 0) {
            error = QStringLiteral("the address \"%1\" has no closing \"]\"").arg(text);
            return false;
        }
        host = text.mid(1, close - 1);
        const QString rest = text.mid(close + 1);
        if (!rest.isEmpty() && !rest.startsWith(QLatin1Char(':'))) {
            error = QStringLiteral("\"%1\" follows the address").arg(rest);
            return false;
        }
        port = rest.mid(1);
    } else if (const qsizetype colon = text.lastIndexOf(QLatin1Char(':')); colon >= 0) {
        host = text.left(colon);
        port = text.mid(colon + 1);
    }
    if (host.contains(QLatin1Char(','))) {
        error = QStringLiteral("several hosts are named; give one");
        return false;
    }
    const std::optional<QString> decoded = Decode(host);
    if (!decoded) {
        error = QStringLiteral("the host \"%1\" has a \"%\" that is no escape").arg(host);
        return false;
    }
    location.host = *decoded;
    if (!port.isEmpty() || text.endsWith(QLatin1Char(':'))) {
        const std::optional<int> number = ReadPort(port);
        if (!number) {
            error = QStringLiteral("the port \"%1\" is not a number from 1 to 65535").arg(port);
            return false;
        }
        location.port = *number;
    }
    return true;
}

bool ReadUserInfo(const QString& text, DatabaseLocation& location, QString& error)
{
    const qsizetype colon = text.indexOf(QLatin1Char(':'));
    const std::optional<QString> user = Decode(colon < 0 ? text : text.left(colon));
    const std::optional<QString> password
        = colon < 0 ? std::optional<QString>(QString()) : Decode(text.mid(colon + 1));
    if (!user || !password) {
        error = QStringLiteral("the user part has a \"%\" that is no escape");
        return false;
    }
    location.user = *user;
    location.password = *password;
    return true;
}

bool ReadParameters(const QString& text, DatabaseLocation& location, QString& error)
{
    for (const QString& parameter : text.split(QLatin1Char('&'), Qt::SkipEmptyParts)) {
        const qsizetype equals = parameter.indexOf(QLatin1Char('='));
        const std::optional<QString> name = Decode(parameter.left(equals));
        const std::optional<QString> value = Decode(parameter.mid(equals + 1));
        if (equals <= 0 || !name || !value) {
            error = QStringLiteral("the parameter \"%1\" is not name=value").arg(parameter);
            return false;
        }
        if (*name == QLatin1String("host"))
            location.host = *value;
        else if (*name == QLatin1String("port")) {
            const std::optional<int> port = ReadPort(*value);
            if (!port) {
                error = QStringLiteral("the port \"%1\" is not a number from 1 to 65535").arg(*value);
                return false;
            }
            location.port = *port;
        } else if (*name == QLatin1String("user"))
            location.user = *value;
        else if (*name == QLatin1String("password"))
            location.password = *value;
        else if (*name == QLatin1String("dbname"))
            location.database = *value;
        else
            location.options << *name + QLatin1Char('=') + *value;
    }
    return true;
}

// The URI as a message may show it: a password in its user part becomes "***".
QString WithoutPassword(const QString& text)
{
    const qsizetype start = text.indexOf(QStringLiteral("://")) + 3;
    qsizetype end = start;
    while (end < text.size() && text[end] != QLatin1Char('/') && text[end] != QLatin1Char('?'))
        ++end;
    const qsizetype at = text.lastIndexOf(QLatin1Char('@'), end - 1);
    const qsizetype colon = at < start ? -1 : text.indexOf(QLatin1Char(':'), start);
    if (colon < 0 || colon > at)
        return text;
    return text.left(colon + 1) + QStringLiteral("***") + text.mid(at);
}

} // namespace

bool IsPostgresUri(const QString& text)
{
    for (const QString& scheme : kSchemes) {
        if (text.startsWith(scheme, Qt::CaseInsensitive))
            return true;
    }
    return false;
}

QString AbsoluteDatabaseName(const QString& name)
{
    return IsPostgresUri(name) ? name : QDir::current().absoluteFilePath(name);
}

QString DatabaseLocation::Display() const
{
    if (!IsPostgres())
        return path;
    QString text = QStringLiteral("postgresql://");
    if (!user.isEmpty())
        text += user + QLatin1Char('@');
    if (!host.startsWith(QLatin1Char('/')))
        text += host.contains(QLatin1Char(':')) ? QLatin1Char('[') + host + QLatin1Char(']') : host;
    if (port)
        text += QLatin1Char(':') + QString::number(port);
    text += QLatin1Char('/') + database;
    if (host.startsWith(QLatin1Char('/')))
        text += QStringLiteral("?host=") + host;
    return text;
}

std::optional<DatabaseLocation> ReadDatabaseLocation(const QString& text, QString& error)
{
    DatabaseLocation location;
    if (!IsPostgresUri(text)) {
        location.path = text;
        return location;
    }
    location.kind = DatabaseLocation::Kind::Postgres;
    QString rest = text.mid(text.indexOf(QStringLiteral("://")) + 3);
    const qsizetype query = rest.indexOf(QLatin1Char('?'));
    const QString parameters = query < 0 ? QString() : rest.mid(query + 1);
    rest = rest.left(query < 0 ? rest.size() : query);
    const qsizetype slash = rest.indexOf(QLatin1Char('/'));
    const QString authority = rest.left(slash < 0 ? rest.size() : slash);
    const qsizetype at = authority.lastIndexOf(QLatin1Char('@'));
    const std::optional<QString> database = Decode(slash < 0 ? QString() : rest.mid(slash + 1));
    if (!database)
        error = QStringLiteral("the database name has a \"%\" that is no escape");
    else
        location.database = *database;
    if (!database || (at >= 0 && !ReadUserInfo(authority.left(at), location, error))
        || !ReadHostAndPort(authority.mid(at + 1), location, error)
        || !ReadParameters(parameters, location, error)) {
        error = QStringLiteral("\"%1\" is not a usable PostgreSQL address: %2")
                    .arg(WithoutPassword(text), error);
        return std::nullopt;
    }
    return location;
}

QString DisplayDatabaseName(const QString& text)
{
    if (!IsPostgresUri(text))
        return text;
    QString error;
    const std::optional<DatabaseLocation> location = ReadDatabaseLocation(text, error);
    return location ? location->Display() : WithoutPassword(text);
}
