#include "WctpGateway.h"

#include <QXmlStreamReader>
#include <QXmlStreamWriter>
#include <optional>

namespace quillpost::sim {

namespace {

using Name = QLatin1String;

// The parts of a submission that come as attributes.
void ReadAttributes(const QXmlStreamReader& xml, WctpSubmit& submit, int& found)
{
    const QXmlStreamAttributes attributes = xml.attributes();
    if (xml.name() == Name("wctp-Originator") && attributes.hasAttribute(Name("senderID"))) {
        submit.senderId = attributes.value(Name("senderID")).toString();
        submit.securityCode = attributes.value(Name("securityCode")).toString();
        ++found;
    } else if (xml.name() == Name("wctp-Recipient")
        && attributes.hasAttribute(Name("recipientID"))) {
        submit.recipientId = attributes.value(Name("recipientID")).toString();
        ++found;
    } else if (xml.name() == Name("wctp-MessageControl")) {
        submit.messageId = attributes.value(Name("messageID")).toString();
    }
}

// Walks the document; the verdict when it is not a complete submission.
std::optional<WctpVerdict> Walk(QXmlStreamReader& xml, WctpSubmit& submit)
{
    int depth = 0;
    int found = 0; // originator, recipient and text
    while (xml.readNext() != QXmlStreamReader::Invalid && !xml.atEnd()) {
        if (xml.isEndElement())
            --depth;
        if (!xml.isStartElement())
            continue;
        ++depth;
        if (depth == 1 && xml.name() != Name("wctp-Operation"))
            return WctpVerdict { 302, QStringLiteral("XML validation error") };
        if (depth == 2 && xml.name() != Name("wctp-SubmitRequest"))
            return WctpVerdict { 300, QStringLiteral("Operation not supported") };
        if (xml.name() == Name("wctp-Alphanumeric")) {
            submit.text = xml.readElementText();
            --depth;
            ++found;
        } else {
            ReadAttributes(xml, submit, found);
        }
    }
    if (xml.hasError())
        return WctpVerdict { 301, QStringLiteral("Input can not be parsed") };
    if (found != 3)
        return WctpVerdict { 302, QStringLiteral("XML validation error") };
    return std::nullopt;
}

} // namespace

bool ReadWctpSubmit(const QByteArray& body, WctpSubmit& submit, WctpVerdict& verdict)
{
    QXmlStreamReader xml(body);
    if (const std::optional<WctpVerdict> refused = Walk(xml, submit)) {
        verdict = *refused;
        return false;
    }
    return true;
}

WctpVerdict JudgeWctpSubmit(const SimConfig& config, const WctpSubmit& submit)
{
    if (!config.password.isEmpty() && submit.securityCode.toUtf8() != config.password)
        return { 402, QStringLiteral("Invalid security code") };
    if (config.unknownPagerIds.contains(submit.recipientId.toUtf8()))
        return { 403, QStringLiteral("Invalid recipientID") };
    return { 200, QStringLiteral("Accepted") };
}

QByteArray WctpConfirmationBody(const WctpVerdict& verdict)
{
    QByteArray body;
    QXmlStreamWriter xml(&body);
    xml.setAutoFormatting(true);
    xml.writeStartDocument();
    xml.writeDTD(QStringLiteral(
        R"(<!DOCTYPE wctp-Operation SYSTEM "http://dtd.wctp.org/wctp-dtd-v1r3.dtd">)"));
    xml.writeStartElement(QStringLiteral("wctp-Operation"));
    xml.writeAttribute(QStringLiteral("wctpVersion"), QStringLiteral("wctp-dtd-v1r3"));
    xml.writeStartElement(QStringLiteral("wctp-Confirmation"));
    const bool success = verdict.code >= 200 && verdict.code < 300;
    xml.writeStartElement(
        success ? QStringLiteral("wctp-Success") : QStringLiteral("wctp-Failure"));
    xml.writeAttribute(success ? QStringLiteral("successCode") : QStringLiteral("errorCode"),
        QString::number(verdict.code));
    xml.writeAttribute(
        success ? QStringLiteral("successText") : QStringLiteral("errorText"), verdict.text);
    xml.writeEndDocument();
    return body;
}

} // namespace quillpost::sim
