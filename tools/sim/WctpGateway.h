#pragma once

#include "PagingSimulator.h"

#include <QByteArray>
#include <QString>

namespace quillpost::sim {

// What the simulated gateway read from one request body.
struct WctpSubmit
{
    QString senderId;
    QString securityCode;
    QString messageId;
    QString recipientId;
    QString text;
};

// The gateway's verdict: a WCTP code (200 success, otherwise an error code) and its text.
struct WctpVerdict
{
    int code = 200;
    QString text;
};

// Reads a wctp-SubmitRequest; on failure sets `verdict` to the WCTP code that says why
// (301: not XML, 300: another operation, 302: a required part missing).
bool ReadWctpSubmit(const QByteArray& body, WctpSubmit& submit, WctpVerdict& verdict);

// What the configured gateway says to a well-formed submission (security code, unknown
// recipients).
WctpVerdict JudgeWctpSubmit(const SimConfig& config, const WctpSubmit& submit);

// The wctp-Confirmation that carries the verdict, as a response body.
QByteArray WctpConfirmationBody(const WctpVerdict& verdict);

} // namespace quillpost::sim
