#include "carrier/CarrierAddress.h"

#include <QByteArray>
#include <QUrl>
#include <algorithm>
#include <array>
#include <cctype>
#include <optional>
#include <utility>

namespace {

const QString kSeparator = QStringLiteral("://");

struct Scheme
{
    const char* name;
    CarrierKind kind;
    bool tls;
    quint16 defaultPort; // 0: the URL must name its port
};

constexpr std::array<Scheme, 6> kSchemes { {
    { "tap", CarrierKind::TapTcp, false, 0 },
    { "taps", CarrierKind::TapTls, true, 0 },
    { "snpp", CarrierKind::Snpp, false, CarrierAddress::kSnppPort },
    { "snpps", CarrierKind::SnppTls, true, CarrierAddress::kSnppPort },
    { "http", CarrierKind::Wctp, false, 80 },
    { "https", CarrierKind::Wctp, true, 443 },
} };

const Scheme* FindScheme(const QString& name)
{
    for (const Scheme& scheme : kSchemes)
        if (name.compare(QLatin1String(scheme.name), Qt::CaseInsensitive) == 0)
            return &scheme;
    return nullptr;
}

QString CharacterName(QChar c)
{
    if (c == QLatin1Char(' '))
        return QStringLiteral("a space");
    if (c.unicode() > 0x20 && c.unicode() < 0x7f)
        return QStringLiteral("\"%1\"").arg(c);
    return QStringLiteral("U+%1").arg(uint(c.unicode()), 4, 16, QLatin1Char('0')).toUpper();
}

// A URL goes on the wire as typed, so it holds visible ASCII only.
std::optional<QString> UnsafeCharacter(const QString& text)
{
    for (const QChar c : text)
        if (c.unicode() <= 0x20 || c.unicode() >= 0x7f)
            return QStringLiteral("it holds %1; a URL takes no spaces, control characters or "
                                  "letters outside ASCII")
                .arg(CharacterName(c));
    return std::nullopt;
}

bool IsHostCharacter(QChar c)
{
    return (c.isLetterOrNumber() && c.unicode() < 0x80) || c == QLatin1Char('-')
        || c == QLatin1Char('.') || c == QLatin1Char('_');
}

bool IsIpv6Character(QChar c)
{
    return (c.unicode() < 0x80 && c.isDigit()) || (c >= QLatin1Char('a') && c <= QLatin1Char('f'))
        || (c >= QLatin1Char('A') && c <= QLatin1Char('F')) || c == QLatin1Char(':')
        || c == QLatin1Char('.');
}

std::optional<QString> ReadPort(const QString& digits, quint16& port)
{
    bool ok = !digits.isEmpty();
    for (const QChar c : digits)
        ok = ok && c.unicode() < 0x80 && c.isDigit();
    const uint value = ok ? digits.toUInt(&ok) : 0;
    if (!ok || value == 0 || value > 65535)
        return QStringLiteral("the port \"%1\" is not a number from 1 to 65535").arg(digits);
    port = static_cast<quint16>(value);
    return std::nullopt;
}

// host, [v6host] or either with ":port".
std::optional<QString> ReadHostPort(const QString& text, CarrierAddress& address, bool& hasPort)
{
    QString host = text;
    QString port;
    if (text.startsWith(QLatin1Char('['))) {
        const qsizetype close = text.indexOf(QLatin1Char(']'));
        if (close < 0 || (close + 1 < text.size() && text.at(close + 1) != QLatin1Char(':')))
            return QStringLiteral("the bracketed IPv6 host is not closed by \"]\"");
        host = text.mid(1, close - 1);
        hasPort = close + 1 < text.size();
        port = text.mid(close + 2);
        if (host.isEmpty() || !std::all_of(host.begin(), host.end(), IsIpv6Character))
            return QStringLiteral("\"%1\" is not an IPv6 address").arg(host);
    } else {
        const qsizetype colon = text.indexOf(QLatin1Char(':'));
        hasPort = colon >= 0;
        host = hasPort ? text.left(colon) : text;
        port = hasPort ? text.mid(colon + 1) : QString();
        if (host.isEmpty())
            return QStringLiteral("it names no host");
        for (const QChar c : host)
            if (!IsHostCharacter(c))
                return QStringLiteral("the host holds %1").arg(CharacterName(c));
    }
    address.host = host;
    return hasPort ? ReadPort(port, address.port) : std::nullopt;
}

std::optional<QString> ReadLogin(const QString& userInfo, const Scheme& scheme, QString& login)
{
    if (userInfo.contains(QLatin1Char(':')))
        return QStringLiteral("it holds a password; the provider's stored password is sent "
                              "instead, so leave it out of the address");
    if (scheme.kind == CarrierKind::TapTcp || scheme.kind == CarrierKind::TapTls)
        return QStringLiteral("a %1:// address takes no login name").arg(scheme.name);
    const QByteArray encoded = userInfo.toLatin1();
    for (qsizetype i = encoded.indexOf('%'); i >= 0; i = encoded.indexOf('%', i + 1))
        if (i + 2 >= encoded.size() || !std::isxdigit(static_cast<unsigned char>(encoded[i + 1]))
            || !std::isxdigit(static_cast<unsigned char>(encoded[i + 2])))
            return QStringLiteral("the login name has a \"%\" not followed by two hex digits");
    login = QUrl::fromPercentEncoding(encoded);
    if (login.isEmpty())
        return QStringLiteral("the login name before \"@\" is empty");
    if (const std::optional<QString> unsafe = UnsafeCharacter(login))
        return QStringLiteral("the login name is not usable: %1").arg(*unsafe);
    return std::nullopt;
}

// What follows the host: nothing for TAP and SNPP (a lone "/" does no harm), a path
// with an optional query for WCTP. A fragment means nothing to any carrier.
std::optional<QString> ReadPath(const QString& rest, const Scheme& scheme, QString& path)
{
    if (rest.contains(QLatin1Char('#')))
        return QStringLiteral("it holds a fragment (\"#\"), which no provider reads");
    if (scheme.kind == CarrierKind::Wctp) {
        path = rest.isEmpty() ? QStringLiteral("/") : rest;
        if (path.startsWith(QLatin1Char('?')))
            path.prepend(QLatin1Char('/'));
        return std::nullopt;
    }
    if (rest.contains(QLatin1Char('?')))
        return QStringLiteral("a %1:// address takes no query (\"?\")").arg(scheme.name);
    if (!rest.isEmpty() && rest != QLatin1String("/"))
        return QStringLiteral("a %1:// address takes no path after the host").arg(scheme.name);
    return std::nullopt;
}

std::optional<QString> ReadUrl(const QString& text, CarrierAddress& address)
{
    if (const std::optional<QString> unsafe = UnsafeCharacter(text))
        return unsafe;
    const qsizetype separator = text.indexOf(kSeparator);
    const QString name = text.left(separator);
    const Scheme* scheme = FindScheme(name);
    if (!scheme)
        return QStringLiteral("\"%1://\" is not a way in this program knows; use tap://, taps://, "
                              "snpp://, snpps://, http:// or https://")
            .arg(name);
    address.kind = scheme->kind;
    address.tls = scheme->tls;
    const QString afterScheme = text.mid(separator + kSeparator.size());
    const auto delimiter = std::find_if(afterScheme.begin(), afterScheme.end(),
        [](QChar c) { return QStringView(u"/?#").contains(c); });
    const qsizetype authorityEnd
        = delimiter == afterScheme.end() ? -1 : delimiter - afterScheme.begin();
    const QString authority = afterScheme.left(authorityEnd);
    const QString rest = authorityEnd < 0 ? QString() : afterScheme.mid(authorityEnd);
    const qsizetype at = authority.lastIndexOf(QLatin1Char('@'));
    if (at >= 0)
        if (std::optional<QString> refused = ReadLogin(authority.left(at), *scheme, address.login))
            return refused;
    bool hasPort = false;
    if (std::optional<QString> refused = ReadHostPort(authority.mid(at + 1), address, hasPort))
        return refused;
    if (!hasPort && scheme->defaultPort == 0)
        return QStringLiteral("a %1:// address needs a port, as in %1://host:port")
            .arg(scheme->name);
    if (!hasPort)
        address.port = scheme->defaultPort;
    return ReadPath(rest, *scheme, address.path);
}

} // namespace

bool IsCarrierUrl(const QString& accessNumber)
{
    return accessNumber.contains(kSeparator);
}

CarrierAddress ParseCarrierAddress(const QString& accessNumber)
{
    CarrierAddress address;
    if (!IsCarrierUrl(accessNumber))
        return address;
    if (std::optional<QString> refused = ReadUrl(accessNumber, address)) {
        CarrierAddress refusedAddress;
        refusedAddress.kind = address.kind;
        refusedAddress.tls = address.tls;
        refusedAddress.refusal = std::move(*refused);
        return refusedAddress;
    }
    return address;
}

QString BadCarrierAddressText(const QString& refusal)
{
    return QStringLiteral("The access number is not a usable address: %1.").arg(refusal);
}

QString CarrierAddressFault(const QString& provider, const QString& refusal)
{
    return QStringLiteral("The access number of %1 is not a usable address: %2")
        .arg(provider, refusal);
}
