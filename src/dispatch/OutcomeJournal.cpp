#include "dispatch/OutcomeJournal.h"

#include "platform/LogCategories.h"
#include "platform/db/DaoException.h"
#include "platform/db/DatabaseLocation.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QStandardPaths>

#include <algorithm>

namespace {

QJsonObject ToJson(const SendAttempt& attempt)
{
    return { { "message", attempt.messageId }, { "recipient", attempt.recipient },
        { "pagerId", attempt.pagerId }, { "provider", attempt.provider },
        { "terminalLine", attempt.terminalLine },
        { "time", attempt.time ? attempt.time->ToText() : QString() } };
}

// A line that is not a kept page (a torn last line after a crash) is passed over.
std::optional<SendAttempt> FromJson(const QByteArray& line)
{
    const QJsonObject json = QJsonDocument::fromJson(line).object();
    SendAttempt attempt;
    attempt.messageId = json.value("message").toInt();
    attempt.recipient = json.value("recipient").toInt();
    if (attempt.messageId <= 0 || attempt.recipient <= 0)
        return std::nullopt;
    attempt.resultCode = MessageStatus::Sent;
    attempt.pagerId = json.value("pagerId").toString();
    attempt.provider = json.value("provider").toString();
    attempt.terminalLine = json.value("terminalLine").toString();
    attempt.time = COleDateTime::FromText(json.value("time").toString());
    return attempt;
}

bool SameRecipient(const SendAttempt& a, const SendAttempt& b)
{
    return a.messageId == b.messageId && a.recipient == b.recipient;
}

} // namespace

// Beside a database file; for a database on a server, in this user's own data folder,
// named by the database it belongs to (its location without the password).
QString COutcomeJournal::JournalPath(const QString& databasePath)
{
    if (!IsPostgresUri(databasePath))
        return databasePath + QStringLiteral(".outcomes");
    const QByteArray name = DisplayDatabaseName(databasePath).toUtf8();
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
        + QStringLiteral("/Quillpost");
    QDir().mkpath(folder);
    return folder + QStringLiteral("/server-")
        + QString::fromLatin1(QCryptographicHash::hash(name, QCryptographicHash::Sha256).toHex().left(16))
        + QStringLiteral(".outcomes");
}

void COutcomeJournal::Load(const QString& databasePath)
{
    if (databasePath == m_strDatabasePath)
        return;
    m_strDatabasePath = databasePath;
    QFile file(JournalPath(databasePath));
    if (!file.exists())
        return;
    if (!file.open(QIODevice::ReadOnly)) {
        qCWarning(lcSend, "Cannot read the kept outcomes in %s: %s", qUtf8Printable(file.fileName()),
            qUtf8Printable(file.errorString()));
        return;
    }
    while (!file.atEnd()) {
        const std::optional<SendAttempt> attempt = FromJson(file.readLine());
        if (attempt && std::none_of(m_kept.begin(), m_kept.end(),
                           [&](const SendAttempt& kept) { return SameRecipient(kept, *attempt); }))
            m_kept.push_back(*attempt);
    }
}

bool COutcomeJournal::Keep(const SendAttempt& attempt)
{
    const bool newMessage = std::none_of(m_kept.begin(), m_kept.end(),
        [&](const SendAttempt& kept) { return kept.messageId == attempt.messageId; });
    m_kept.push_back(attempt);
    m_kept.back().resultCode = MessageStatus::Sent;
    if (!m_kept.back().time)
        m_kept.back().time = COleDateTime::GetCurrentTime();
    Save();
    return newMessage;
}

std::vector<std::int32_t> COutcomeJournal::Replay()
{
    std::vector<std::int32_t> recorded;
    if (m_kept.empty())
        return recorded;
    std::vector<SendAttempt> left;
    for (const SendAttempt& attempt : m_kept) {
        try {
            if (RecordAttemptResult(attempt)
                && std::find(recorded.begin(), recorded.end(), attempt.messageId) == recorded.end())
                recorded.push_back(attempt.messageId);
        } catch (const CDaoException& failure) {
            qCDebug(lcSend, "The kept outcome of message %d to user %d is still not stored: %s",
                attempt.messageId, attempt.recipient, qUtf8Printable(failure.reason()));
            left.push_back(attempt);
        }
    }
    if (left.size() != m_kept.size()) {
        m_kept = std::move(left);
        Save();
    }
    return recorded;
}

std::set<std::pair<std::int32_t, std::int32_t>> COutcomeJournal::Recipients() const
{
    std::set<std::pair<std::int32_t, std::int32_t>> recipients;
    for (const SendAttempt& attempt : m_kept)
        recipients.insert({ attempt.messageId, attempt.recipient });
    return recipients;
}

void COutcomeJournal::Save() const
{
    if (m_strDatabasePath.isEmpty())
        return;
    const QString path = JournalPath(m_strDatabasePath);
    if (m_kept.empty()) {
        if (QFile::exists(path) && !QFile::remove(path))
            qCWarning(lcSend, "Cannot remove %s, whose outcomes are all stored now", qUtf8Printable(path));
        return;
    }
    QByteArray text;
    for (const SendAttempt& attempt : m_kept)
        text += QJsonDocument(ToJson(attempt)).toJson(QJsonDocument::Compact) + '\n';
    // The pages are kept in memory whatever happens here; the file only carries them
    // over a restart.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit())
        qCWarning(lcSend, "Cannot write the kept outcomes to %s: %s", qUtf8Printable(path),
            qUtf8Printable(file.errorString()));
}
