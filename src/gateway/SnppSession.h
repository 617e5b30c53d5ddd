#pragma once

#include "platform/db/OleDateTime.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <optional>

// One message as an SNPP client composed it, before any of it is resolved or queued.
struct SnppMessage
{
    QStringList pagerIds; // as given to PAGE, in order
    QString text; // MESS, or the lines of DATA joined by line breaks
    std::optional<COleDateTime> due; // HOLD, local time; none: now
    QString login; // empty: none given
    QString subject; // SUBJ
    QString callerId; // CALL
};

// What became of a SEND.
struct SnppSubmitResult
{
    enum class Outcome
    {
        Queued,
        Refused, // a pager ID or the due time no longer does: nothing queued
        Failed // the database did not take it: nothing queued
    };
    Outcome outcome = Outcome::Failed;
    std::int32_t messageId = 0;
    QString reason; // for Refused and Failed, one line
};

// What the session gives the connection to do after a line.
struct SnppReply
{
    QByteArray text; // whole reply lines, each ended by CR LF; may be empty
    bool close = false; // end the connection once the text is written
    // A login to check before anything else is read; its reply comes from LoginChecked.
    std::optional<std::pair<QString, QString>> checkLogin;
};

// The SNPP conversation of one connection, without the socket: lines in, replies out.
// Levels 1 and 2: PAGE, MESS, DATA, SEND, RESE, QUIT, HELP, LOGI, LEVE, HOLD, SUBJ and
// CALL. The connection checks logins and queues through the hooks.
class CSnppSession
{
public:
    struct Hooks
    {
        // Why a pager ID names nobody; empty when it names someone.
        std::function<QString(const QString& pagerId)> pagerRefusal;
        std::function<SnppSubmitResult(const SnppMessage&)> submit;
    };

    // The longest line taken, without its line end, and the most text DATA takes.
    static constexpr qsizetype kMostLineBytes = 1024;
    static constexpr qsizetype kMostDataBytes = 64 * 1024;
    // The most pager IDs one message takes.
    static constexpr qsizetype kMostPagers = 100;

    CSnppSession(Hooks hooks, bool loginRequired);

    static QByteArray Greeting();
    // One line as received, its line end removed.
    SnppReply Line(const QByteArray& line);
    SnppReply LoginChecked(bool accepted);

    const QString& Login() const { return m_message.login; }

private:
    SnppReply Command(const QByteArray& verb, const QString& argument);
    SnppReply DataLine(const QByteArray& line);
    SnppReply Page(const QString& argument);
    SnppReply Message(const QString& text);
    SnppReply Hold(const QString& argument);
    SnppReply Send();
    void Reset();

    Hooks m_hooks;
    bool m_loginRequired;
    bool m_loggedIn = false;
    SnppMessage m_message;
    bool m_hasText = false;
    bool m_inData = false;
    QByteArray m_data;
};

// "YYMMDDHHMMSS" (or with a four-digit year) with an optional difference from UTC
// ("+HH", "-HHMM"), as HOLD gives it, in local time; nothing when it is not a time.
std::optional<COleDateTime> ParseSnppHoldTime(const QString& argument);
