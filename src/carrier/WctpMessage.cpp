#include "carrier/WctpMessage.h"

#include <QRandomGenerator>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

namespace {

const QString kTimestampFormat = QStringLiteral("yyyy-MM-ddTHH:mm:ss");

// XML 1.0 cannot carry most control characters, not even escaped.
QString XmlSafe(QString text)
{
    for (QChar& c : text)
        if (c.unicode() < 0x20 && c != QLatin1Char('\t') && c != QLatin1Char('\n')
            && c != QLatin1Char('\r'))
            c = QLatin1Char(' ');
    return text;
}

void WriteHeader(QXmlStreamWriter& xml, const WctpSubmission& submission)
{
    xml.writeStartElement(QStringLiteral("wctp-SubmitHeader"));
    xml.writeAttribute(
        QStringLiteral("submitTimestamp"), submission.submitted.toUTC().toString(kTimestampFormat));
    xml.writeEmptyElement(QStringLiteral("wctp-Originator"));
    xml.writeAttribute(QStringLiteral("senderID"), XmlSafe(submission.senderId));
    if (!submission.securityCode.isEmpty())
        xml.writeAttribute(QStringLiteral("securityCode"), XmlSafe(submission.securityCode));
    // A one-way page: the gateway is not to hold replies for this side to poll.
    xml.writeEmptyElement(QStringLiteral("wctp-MessageControl"));
    xml.writeAttribute(QStringLiteral("messageID"), submission.messageId);
    xml.writeAttribute(QStringLiteral("allowResponse"), QStringLiteral("false"));
    xml.writeEmptyElement(QStringLiteral("wctp-Recipient"));
    xml.writeAttribute(QStringLiteral("recipientID"), XmlSafe(submission.recipientId));
    xml.writeEndElement();
}

} // namespace

QByteArray WctpSubmitRequestBody(const WctpSubmission& submission)
{
    QByteArray body;
    QXmlStreamWriter xml(&body);
    xml.setAutoFormatting(true);
    xml.writeStartDocument();
    xml.writeDTD(QStringLiteral(
        R"(<!DOCTYPE wctp-Operation SYSTEM "http://dtd.wctp.org/wctp-dtd-v1r3.dtd">)"));
    xml.writeStartElement(QStringLiteral("wctp-Operation"));
    xml.writeAttribute(QStringLiteral("wctpVersion"), QStringLiteral("wctp-dtd-v1r3"));
    xml.writeStartElement(QStringLiteral("wctp-SubmitRequest"));
    WriteHeader(xml, submission);
    xml.writeStartElement(QStringLiteral("wctp-Payload"));
    xml.writeTextElement(QStringLiteral("wctp-Alphanumeric"), XmlSafe(submission.text));
    xml.writeEndDocument();
    return body;
}

QString WctpReply::Line() const
{
    return text.isEmpty() ? QString::number(code) : QStringLiteral("%1 %2").arg(code).arg(text);
}

WctpReply ParseWctpReply(const QByteArray& body)
{
    QXmlStreamReader xml(body);
    WctpReply reply;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        const bool success = xml.name() == QLatin1String("wctp-Success");
        if (!success && xml.name() != QLatin1String("wctp-Failure"))
            continue;
        const QXmlStreamAttributes attributes = xml.attributes();
        bool numeric = false;
        reply.code
            = attributes.value(success ? QLatin1String("successCode") : QLatin1String("errorCode"))
                  .toInt(&numeric);
        reply.text
            = attributes.value(success ? QLatin1String("successText") : QLatin1String("errorText"))
                  .toString()
                  .simplified();
        reply.kind = !numeric ? WctpReply::Kind::Unreadable
            : success         ? WctpReply::Kind::Success
                              : WctpReply::Kind::Failure;
        return reply;
    }
    return reply;
}

QString MakeWctpMessageId(int messageId, const QString& pagerId)
{
    return QStringLiteral("%1-%2-%3")
        .arg(messageId)
        .arg(pagerId)
        .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
}
