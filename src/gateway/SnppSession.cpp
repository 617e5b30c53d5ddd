#include "gateway/SnppSession.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QTimeZone>

namespace {

SnppReply reply(const char* text, bool close = false)
{
    return { QByteArray(text) + "\r\n", close, std::nullopt };
}

SnppReply reply(int code, const QString& text)
{
    QString line = text;
    line.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    return { QByteArray::number(code) + ' ' + line.toUtf8() + "\r\n", false, std::nullopt };
}

constexpr const char* kHelp = "214 Quillpost SNPP gateway, levels 1 and 2:\r\n"
                              "214 PAGE <pager ID> [password]  a recipient; repeat for more\r\n"
                              "214 MESS <text>                 the message on one line\r\n"
                              "214 DATA                        the message on several lines,\r\n"
                              "214                             ended by a line holding \".\"\r\n"
                              "214 HOLD YYMMDDHHMMSS [+/-HHMM] when it is due (default now)\r\n"
                              "214 SEND                        queue the message\r\n"
                              "214 RESE                        start the message again\r\n"
                              "214 LOGI <name> [password], LEVE <level>, SUBJ <text>,\r\n"
                              "214 CALL <caller ID>, HELP, QUIT\r\n"
                              "250 End of Help Information\r\n";

// Two-digit years are those of clients written before 2000 and after.
int fullYear(int year, int digits)
{
    if (digits == 4)
        return year;
    return year < 70 ? 2000 + year : 1900 + year;
}

} // namespace

std::optional<COleDateTime> ParseSnppHoldTime(const QString& argument)
{
    static const QRegularExpression form(
        QStringLiteral("^(\\d{2}|\\d{4})(\\d{2})(\\d{2})(\\d{2})(\\d{2})(\\d{2})"
                       "(?:\\s+([+-])(\\d{1,2})(\\d{2})?)?$"));
    const QRegularExpressionMatch match = form.match(argument.trimmed());
    if (!match.hasMatch())
        return std::nullopt;
    auto number = [&match](int group) { return match.captured(group).toInt(); };
    const int year = fullYear(number(1), int(match.capturedLength(1)));
    if (!COleDateTime::IsValidDateTime(year, number(2), number(3), number(4), number(5), number(6)))
        return std::nullopt;
    const COleDateTime given(year, number(2), number(3), number(4), number(5), number(6));
    if (!match.hasCaptured(7))
        return given;
    const int offsetSeconds
        = (number(8) * 3600 + number(9) * 60) * (match.captured(7) == QLatin1String("-") ? -1 : 1);
    if (offsetSeconds > 14 * 3600 || offsetSeconds < -14 * 3600)
        return std::nullopt;
    const QDateTime local = QDateTime(QDate(year, number(2), number(3)),
        QTime(number(4), number(5), number(6)), QTimeZone(offsetSeconds))
                                .toLocalTime();
    return COleDateTime(local.date().year(), local.date().month(), local.date().day(),
        local.time().hour(), local.time().minute(), local.time().second());
}

CSnppSession::CSnppSession(Hooks hooks, bool loginRequired)
    : m_hooks(std::move(hooks))
    , m_loginRequired(loginRequired)
{
}

QByteArray CSnppSession::Greeting()
{
    return "220 Quillpost SNPP gateway (levels 1 and 2) ready\r\n";
}

SnppReply CSnppSession::Line(const QByteArray& line)
{
    if (line.size() > kMostLineBytes)
        return reply("500 Command line too long; closing", true);
    if (m_inData)
        return DataLine(line);
    const QByteArray trimmed = line.trimmed();
    const qsizetype space = trimmed.indexOf(' ');
    const QByteArray word = (space < 0 ? trimmed : trimmed.left(space)).toUpper();
    const QString argument
        = space < 0 ? QString() : QString::fromUtf8(trimmed.mid(space + 1)).trimmed();
    // Commands are known by their first four letters: "PAGEr" is PAGE.
    return Command(word.size() >= 4 ? word.left(4) : QByteArray(), argument);
}

SnppReply CSnppSession::Command(const QByteArray& verb, const QString& argument)
{
    if (verb == "QUIT")
        return reply("221 OK, Goodbye", true);
    if (verb == "HELP")
        return { kHelp, false, std::nullopt };
    if (verb == "RESE") {
        Reset();
        return reply("250 RESET OK");
    }
    if (verb == "LOGI") {
        const QStringList words = argument.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (words.isEmpty())
            return reply("550 Error, LOGI needs a login name");
        m_message.login = words.front();
        if (!m_loginRequired)
            return reply("250 Login Accepted");
        m_loggedIn = false;
        return { {}, false, std::pair(words.front(), words.mid(1).join(QLatin1Char(' '))) };
    }
    if (verb == "LEVE")
        return reply("250 Level Accepted");
    if (m_loginRequired && !m_loggedIn && (verb == "PAGE" || verb == "SEND"))
        return reply("503 Error, log in first with LOGI");
    if (verb == "PAGE")
        return Page(argument);
    if (verb == "MESS")
        return Message(argument);
    if (verb == "DATA") {
        if (m_hasText)
            return reply("503 Error, Message Already Entered");
        m_inData = true;
        m_data.clear();
        return reply("354 Begin Input; End with <CRLF>'.'<CRLF>");
    }
    if (verb == "HOLD")
        return Hold(argument);
    if (verb == "SUBJ") {
        m_message.subject = argument;
        return reply("250 Message Subject Accepted");
    }
    if (verb == "CALL") {
        m_message.callerId = argument;
        return reply("250 Caller ID Accepted");
    }
    if (verb == "SEND")
        return Send();
    return reply("500 Command Not Implemented");
}

SnppReply CSnppSession::DataLine(const QByteArray& line)
{
    if (line == ".") {
        m_inData = false;
        return Message(QString::fromUtf8(m_data));
    }
    // A line that starts with "." came with a second one before it.
    const QByteArray text = line.startsWith('.') ? line.mid(1) : line;
    if (m_data.size() + text.size() + 1 > kMostDataBytes)
        return reply("554 Error, the message is longer than 65536 bytes; closing", true);
    if (!m_data.isEmpty())
        m_data += '\n';
    m_data += text;
    return {};
}

SnppReply CSnppSession::Page(const QString& argument)
{
    const QString pagerId = argument.section(QLatin1Char(' '), 0, 0, QString::SectionSkipEmpty);
    if (pagerId.isEmpty())
        return reply("550 Error, Invalid Pager ID");
    if (m_message.pagerIds.size() >= kMostPagers)
        return reply("552 Maximum Entries Exceeded");
    if (const QString refusal = m_hooks.pagerRefusal(pagerId); !refusal.isEmpty())
        return reply(550, QStringLiteral("Error, Invalid Pager ID: ") + refusal);
    m_message.pagerIds << pagerId;
    return reply("250 Pager ID Accepted");
}

SnppReply CSnppSession::Message(const QString& text)
{
    if (m_hasText)
        return reply("503 Error, Message Already Entered");
    if (text.trimmed().isEmpty())
        return reply("550 Error, Invalid Message: there is no text");
    m_message.text = text;
    m_hasText = true;
    return reply("250 Message OK");
}

SnppReply CSnppSession::Hold(const QString& argument)
{
    const std::optional<COleDateTime> due = ParseSnppHoldTime(argument);
    if (!due)
        return reply("550 Error, Invalid Delivery Date/Time");
    m_message.due = due;
    return reply("250 Delayed Messaging Selected");
}

SnppReply CSnppSession::Send()
{
    if (m_message.pagerIds.isEmpty())
        return reply("503 Error, Pager ID needed");
    if (!m_hasText)
        return reply("503 Error, Message needed");
    const SnppSubmitResult result = m_hooks.submit(m_message);
    Reset();
    switch (result.outcome) {
    case SnppSubmitResult::Outcome::Queued:
        return reply(
            250, QStringLiteral("Message Sent Successfully (message %1)").arg(result.messageId));
    case SnppSubmitResult::Outcome::Refused:
        return reply(550, QStringLiteral("Error, ") + result.reason);
    case SnppSubmitResult::Outcome::Failed:
        break;
    }
    return reply(554, QStringLiteral("Error, the message could not be queued: ") + result.reason);
}

SnppReply CSnppSession::LoginChecked(bool accepted)
{
    m_loggedIn = accepted;
    if (accepted)
        return reply("250 Login Accepted");
    m_message.login.clear();
    return reply("550 Error, Invalid Login");
}

void CSnppSession::Reset()
{
    const QString login = m_message.login;
    m_message = {};
    m_message.login = login;
    m_hasText = false;
    m_inData = false;
    m_data.clear();
}
