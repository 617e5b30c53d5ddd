#include "data/Records.h"

void CSendJob::CopyFrom(const CSendJob& source)
{
    if (&source == this)
        return;
    m_id = source.m_id;
    m_requestTime = source.m_requestTime;
    m_requiredSendTime = source.m_requiredSendTime;
    m_text = source.m_text;
    m_status = source.m_status;
    m_messageId = source.m_messageId;
    for (const auto& entry : source.m_recipients)
        m_recipients.push_back(std::make_unique<CRecipientEntry>(*entry));
}
