#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

// What one WCTP 1.3 submission carries.
struct WctpSubmission
{
    QString senderId; // the URL's user part
    QString securityCode; // the provider's stored password; empty: left out
    QString messageId; // unique per submission, so the gateway can spot a repeat
    QString recipientId; // the pager ID
    QString text; // sent as it is, in UTF-8
    QDateTime submitted; // sent as UTC
};

// The wctp-SubmitRequest for one recipient, as the request body (UTF-8 XML with the
// WCTP 1.3 document type).
QByteArray WctpSubmitRequestBody(const WctpSubmission& submission);

// A gateway's answer to a submission.
struct WctpReply
{
    enum class Kind
    {
        Success, // wctp-Success
        Failure, // wctp-Failure
        Unreadable, // not XML, or neither of the two
    };
    Kind kind = Kind::Unreadable;
    int code = 0; // successCode or errorCode
    QString text; // successText or errorText

    // "200 Accepted", as the send log keeps a provider's reply.
    QString Line() const;
};

WctpReply ParseWctpReply(const QByteArray& body);

// A unique messageID: the message, the recipient and a random part, so that two
// submissions never share one even across program runs.
QString MakeWctpMessageId(int messageId, const QString& pagerId);
