#include "data/Recordsets.h"

void CUsersRecordset::DoFieldExchange(CDaoFieldExchange& fx)
{
    fx.Counter("ID", m_ID);
    fx.Text("Name", m_Name);
    fx.Text("TelephoneNumber", m_TelephoneNumber);
    fx.Long("PreferredProvider", m_PreferredProvider);
    fx.Long("Group1", m_Group1);
    fx.Long("Group2", m_Group2);
    fx.Long("Group3", m_Group3);
    fx.Long("Group4", m_Group4);
    fx.Long("Group5", m_Group5);
    fx.Long("Group6", m_Group6);
    fx.Long("Group7", m_Group7);
    fx.Long("Group8", m_Group8);
    fx.Long("Group9", m_Group9);
    fx.Long("Group10", m_Group10);
}

void CGroupsRecordset::DoFieldExchange(CDaoFieldExchange& fx)
{
    fx.Counter("ID", m_ID);
    fx.Text("GroupName", m_GroupName);
}

void CServiceProvidersRecordset::DoFieldExchange(CDaoFieldExchange& fx)
{
    fx.Counter("ID", m_ID);
    fx.Text("ServiceName", m_ServiceName);
    fx.Text("AccessNumber", m_AccessNumber);
    fx.Long("BaudRate", m_BaudRate);
    fx.Long("StopBits", m_StopBits);
    fx.Long("Parity", m_Parity);
    fx.Long("DataBits", m_DataBits);
    fx.Long("TAPType", m_TAPType);
    fx.Long("UseAsDefault", m_UseAsDefault);
    fx.Text("Password", m_Password);
}

void CMessagesRecordset::DoFieldExchange(CDaoFieldExchange& fx)
{
    fx.Counter("ID", m_ID);
    fx.Long("Recipient", m_Recipient);
    fx.Long("MessageCount", m_MessageCount);
    fx.Long("MessageId", m_MessageId);
    fx.Text("Text", m_Text);
    fx.Long("Status", m_Status);
    fx.DateTime("SendTime", m_SendTime);
    fx.DateTime("RequestTime", m_RequestTime);
    fx.DateTime("RequiredSendTime", m_RequiredSendTime);
    fx.Long("Retries", m_Retries);
}

void CSendLogRecordset::DoFieldExchange(CDaoFieldExchange& fx)
{
    fx.Counter("ID", m_ID);
    fx.DateTime("AttemptTime", m_AttemptTime);
    fx.Long("MessageId", m_MessageId);
    fx.Long("Recipient", m_Recipient);
    fx.Text("PagerId", m_PagerId);
    fx.Text("Provider", m_Provider);
    fx.Long("Outcome", m_Outcome);
    fx.Text("TerminalLine", m_TerminalLine);
}
