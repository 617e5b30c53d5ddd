#pragma once

#include <QString>
#include <cstdint>
#include <functional>

// The Users criteria that match every user with `groupId` in any of the ten group
// columns.
QString GroupMemberCriteria(std::int32_t groupId);

// Hands the ID of every member of the group, as the Users table holds them now, to
// `takeMember`, in table order. Throws CDaoException; the members handed over before
// a failure stay handed over.
void ForEachGroupMember(std::int32_t groupId, const std::function<void(std::int32_t)>& takeMember);
