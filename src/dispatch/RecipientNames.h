#pragma once

#include "data/AddressBook.h"

#include <QString>
#include <cstdint>
#include <functional>
#include <vector>

// Turns the recipients named by a script or a network client into users, the way an
// operator picks them in the composition dialog. A name matches a user's or a group's
// name exactly but for case; "#ID" is the user with that ID; "user:NAME" and
// "group:NAME" (or "group:#ID") look only among users or only among groups. A group
// stands for its members, as "<<" adds them in the dialog. Each user is taken once, in
// the order first named.
class CRecipientNames
{
public:
    enum class PagerNumbers
    {
        Ignored,
        // A bare name also matches a user's pager number (Users.TelephoneNumber), as
        // the pager IDs of network paging clients do.
        Matched
    };

    // Reads the users and groups. Throws CDaoException.
    explicit CRecipientNames(PagerNumbers pagerNumbers = PagerNumbers::Ignored);

    // Adds the users `name` stands for. Returns why the name is refused (unknown,
    // ambiguous, a group without members), listing the candidates; empty when the
    // name was taken. Throws CDaoException when a group's members cannot be read.
    QString Add(const QString& name);

    const std::vector<std::int32_t>& Recipients() const { return m_recipients; }
    // The user's name as read, or "?" for an ID that is not a user's.
    QString NameOf(std::int32_t userId) const;

private:
    enum class Kind
    {
        User,
        Group
    };
    struct Candidate
    {
        Kind kind;
        RecordChoice record;
    };

    std::vector<Candidate> Collect(
        bool users, bool groups, const std::function<bool(const RecordChoice&)>& fits) const;
    std::vector<Candidate> Matching(const QString& name, bool users, bool groups) const;
    std::vector<Candidate> Resembling(const QString& name, bool users, bool groups) const;
    QString Take(const Candidate& candidate);
    void TakeUser(std::int32_t id);

    std::vector<RecordChoice> m_users;
    std::vector<QString> m_pagerNumbers; // beside m_users; empty when they are ignored
    std::vector<RecordChoice> m_groups;
    std::vector<std::int32_t> m_recipients;
};
