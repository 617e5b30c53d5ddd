#include "dispatch/RecipientNames.h"

#include "data/GroupMembers.h"
#include "data/Recordsets.h"

#include <QStringList>
#include <algorithm>

namespace {

template <typename Recordset, typename Name> std::vector<RecordChoice> readChoices(Name name)
{
    std::vector<RecordChoice> choices;
    Recordset rs;
    rs.Open();
    for (; !rs.IsEOF(); rs.MoveNext())
        choices.push_back({ rs.m_ID, name(rs) });
    return choices;
}

// "#12" gives 12; anything else nothing.
std::optional<std::int32_t> idOf(const QString& name)
{
    if (!name.startsWith(QLatin1Char('#')))
        return std::nullopt;
    bool ok = false;
    const int id = name.mid(1).toInt(&ok);
    return ok && id > 0 ? std::optional<std::int32_t>(id) : std::nullopt;
}

constexpr qsizetype kMostCandidatesListed = 10;

} // namespace

CRecipientNames::CRecipientNames(PagerNumbers pagerNumbers)
    : m_groups(
        readChoices<CGroupsRecordset>([](const CGroupsRecordset& rs) { return rs.m_GroupName; }))
{
    CUsersRecordset rs;
    rs.Open();
    for (; !rs.IsEOF(); rs.MoveNext()) {
        m_users.push_back({ rs.m_ID, rs.m_Name });
        if (pagerNumbers == PagerNumbers::Matched)
            m_pagerNumbers.push_back(rs.m_TelephoneNumber.trimmed());
    }
}

QString CRecipientNames::Add(const QString& argument)
{
    QString name = argument.trimmed();
    bool users = true;
    bool groups = true;
    if (name.startsWith(QLatin1String("user:"), Qt::CaseInsensitive)) {
        name = name.mid(5).trimmed();
        groups = false;
    } else if (name.startsWith(QLatin1String("group:"), Qt::CaseInsensitive)) {
        name = name.mid(6).trimmed();
        users = false;
    }
    if (name.isEmpty())
        return QStringLiteral("An empty recipient name was given.");
    // A bare "#ID" is a user; a group is named by ID only with "group:".
    if (idOf(name) && users && groups)
        groups = false;

    const std::vector<Candidate> matches = Matching(name, users, groups);
    if (matches.size() == 1)
        return Take(matches.front());

    auto describe = [](const std::vector<Candidate>& candidates) {
        QStringList lines;
        for (const Candidate& candidate : candidates)
            lines << QStringLiteral("  %1 \"%2\" (#%3)")
                         .arg(candidate.kind == Kind::User ? QStringLiteral("user")
                                                           : QStringLiteral("group"),
                             candidate.record.name)
                         .arg(candidate.record.id);
        if (lines.size() > kMostCandidatesListed) {
            const qsizetype more = lines.size() - kMostCandidatesListed;
            lines = lines.mid(0, kMostCandidatesListed);
            lines << QStringLiteral("  and %1 more").arg(more);
        }
        return lines.join(QLatin1Char('\n'));
    };
    if (matches.size() > 1)
        return QStringLiteral("\"%1\" is ambiguous; it names:\n%2\n"
                              "Name a user by #ID, or a group by group:#ID.")
            .arg(argument, describe(matches));
    const QString unknown = QStringLiteral("There is no %1 \"%2\".")
                                .arg(users && groups ? QStringLiteral("user or group named")
                                        : users      ? QStringLiteral("user")
                                                     : QStringLiteral("group"),
                                    name);
    const std::vector<Candidate> resembling = Resembling(name, users, groups);
    if (resembling.empty())
        return unknown;
    return unknown + QStringLiteral(" Names that contain it:\n") + describe(resembling);
}

std::vector<CRecipientNames::Candidate> CRecipientNames::Collect(
    bool users, bool groups, const std::function<bool(const RecordChoice&)>& fits) const
{
    std::vector<Candidate> found;
    auto collect = [&](Kind kind, const std::vector<RecordChoice>& records) {
        for (const RecordChoice& record : records)
            if (fits(record))
                found.push_back({ kind, record });
    };
    if (users)
        collect(Kind::User, m_users);
    if (groups)
        collect(Kind::Group, m_groups);
    return found;
}

std::vector<CRecipientNames::Candidate> CRecipientNames::Matching(
    const QString& name, bool users, bool groups) const
{
    if (const std::optional<std::int32_t> id = idOf(name))
        return Collect(
            users, groups, [id](const RecordChoice& record) { return record.id == *id; });
    std::vector<Candidate> found = Collect(users, groups, [&name](const RecordChoice& record) {
        return record.name.compare(name, Qt::CaseInsensitive) == 0;
    });
    if (!users || m_pagerNumbers.size() != m_users.size())
        return found;
    for (std::size_t i = 0; i < m_users.size(); ++i) {
        const bool named = std::any_of(found.begin(), found.end(), [&](const Candidate& c) {
            return c.kind == Kind::User && c.record.id == m_users[i].id;
        });
        if (!named && !m_pagerNumbers[i].isEmpty() && m_pagerNumbers[i] == name)
            found.push_back({ Kind::User, m_users[i] });
    }
    return found;
}

std::vector<CRecipientNames::Candidate> CRecipientNames::Resembling(
    const QString& name, bool users, bool groups) const
{
    if (idOf(name))
        return {};
    return Collect(users, groups, [&name](const RecordChoice& record) {
        return record.name.contains(name, Qt::CaseInsensitive);
    });
}

QString CRecipientNames::Take(const Candidate& candidate)
{
    if (candidate.kind == Kind::User) {
        TakeUser(candidate.record.id);
        return {};
    }
    bool anyMember = false;
    ForEachGroupMember(candidate.record.id, [&](std::int32_t member) {
        anyMember = true;
        TakeUser(member);
    });
    if (!anyMember)
        return QStringLiteral("The group \"%1\" (#%2) has no members.")
            .arg(candidate.record.name)
            .arg(candidate.record.id);
    return {};
}

void CRecipientNames::TakeUser(std::int32_t id)
{
    if (std::find(m_recipients.begin(), m_recipients.end(), id) == m_recipients.end())
        m_recipients.push_back(id);
}

QString CRecipientNames::NameOf(std::int32_t userId) const
{
    for (const RecordChoice& user : m_users)
        if (user.id == userId)
            return user.name;
    return QStringLiteral("?");
}
