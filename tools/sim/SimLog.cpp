#include "SimLog.h"

namespace quillpost::sim {

namespace {

QByteArray jsonTime(const QDateTime& time)
{
    return '"' + time.toUTC().toString(Qt::ISODateWithMs).toLatin1() + '"';
}

} // namespace

QString callEndName(CallEnd how)
{
    switch (how) {
    case CallEnd::Logout:
        return QStringLiteral("logout");
    case CallEnd::DroppedByFault:
        return QStringLiteral("dropped-by-fault");
    case CallEnd::CallerHungUp:
        return QStringLiteral("caller-hung-up");
    case CallEnd::IdleTimeout:
        return QStringLiteral("idle-timeout");
    case CallEnd::Stopped:
        return QStringLiteral("stopped");
    case CallEnd::LogonRefused:
        return QStringLiteral("logon-refused");
    case CallEnd::PageLimit:
        return QStringLiteral("page-limit");
    }
    return QStringLiteral("unknown");
}

QByteArray jsonBytes(QByteArrayView bytes)
{
    static constexpr char hex[] = "0123456789abcdef";
    QByteArray out;
    out.reserve(bytes.size() + 2);
    out += '"';
    for (char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == '"' || byte == '\\') {
            out += '\\';
            out += c;
        } else if (byte >= 0x20 && byte <= 0x7E) {
            out += c;
        } else {
            out += "\\u00";
            out += hex[byte >> 4];
            out += hex[byte & 0xF];
        }
    }
    out += '"';
    return out;
}

QByteArray pageLogLine(const AcceptedPage& page)
{
    return "{\"event\":\"page\",\"call\":" + QByteArray::number(page.call)
        + ",\"time\":" + jsonTime(page.time) + ",\"protocol\":" + jsonBytes(page.protocol)
        + ",\"pagerId\":" + jsonBytes(page.pagerId) + ",\"text\":" + jsonBytes(page.text)
        + ",\"checksum\":" + jsonBytes(page.checksum)
        + (page.acknowledged ? QByteArray() : QByteArray(",\"acknowledged\":false")) + "}\n";
}

QByteArray callEndLogLine(const CallRecord& record)
{
    return "{\"event\":\"call-end\",\"call\":" + QByteArray::number(record.call)
        + ",\"time\":" + jsonTime(record.time) + ",\"how\":\"" + callEndName(record.how).toLatin1()
        + "\",\"received\":" + QByteArray::number(record.received)
        + ",\"sent\":" + QByteArray::number(record.sent) + "}\n";
}

} // namespace quillpost::sim
