#include "data/GroupMembers.h"

#include "data/Recordsets.h"

QString GroupMemberCriteria(std::int32_t groupId)
{
    return QStringLiteral("Group1 = %1 OR Group2 = %1 OR Group3 = %1 OR Group4 = %1 OR "
                          "Group5 = %1 OR Group6 = %1 OR Group7 = %1 OR Group8 = %1 OR "
                          "Group9 = %1 OR Group10 = %1")
        .arg(groupId);
}

void ForEachGroupMember(std::int32_t groupId, const std::function<void(std::int32_t)>& takeMember)
{
    CUsersRecordset rs;
    rs.m_strFilter = GroupMemberCriteria(groupId);
    rs.Open();
    for (; !rs.IsEOF(); rs.MoveNext())
        takeMember(rs.m_ID);
    rs.Close();
}
