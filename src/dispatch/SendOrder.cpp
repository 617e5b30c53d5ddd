#include "dispatch/SendOrder.h"

#include "data/QuillTime.h"
#include "data/AddressBook.h"
#include "data/QuillpostDoc.h"
#include "platform/db/DaoException.h"

#include <algorithm>

namespace {

constexpr std::int32_t kWaiting = 0;

void AddRecipient(SendOrder& order, const CQuillpostDoc& doc, std::int32_t userId)
{
    order.recipients.push_back(userId);
    order.pagerIds.push_back(doc.GetTelephoneNumber(userId));
}

SendOrder MakeOrder(const CQuillpostDoc& doc, const CSendJob& message, std::size_t chosen,
    const CServiceProvider& provider)
{
    SendOrder order;
    order.job = std::make_unique<CSendJob>();
    order.job->CopyFrom(message);
    order.accessNumber = provider.m_accessNumber;
    order.parity = ParityLetter(provider.m_parity);
    order.dataBits = provider.m_dataBits;
    order.stopBits = provider.m_stopBits;
    order.text = message.m_text;
    order.providerName = provider.m_serviceName;

    AddRecipient(order, doc, message.m_recipients[chosen]->m_recipient);
    for (std::size_t i = chosen + 1; i < message.m_recipients.size(); ++i) {
        const CRecipientEntry& entry = *message.m_recipients[i];
        if (entry.m_status == kWaiting && doc.FindProviderForUser(entry.m_recipient) == &provider)
            AddRecipient(order, doc, entry.m_recipient);
    }
    return order;
}

} // namespace

char ParityLetter(std::int32_t parity)
{
    switch (parity) {
    case 0:
        return 'N';
    case 1:
        return 'E';
    default:
        return 'O';
    }
}

std::optional<SendOrder> ChooseDueSend(const CQuillpostDoc& doc)
{
    for (const auto& message : doc.m_messages) {
        // Most messages are long done: only one with a waiting entry needs the clock.
        const bool waiting = std::any_of(message->m_recipients.begin(),
            message->m_recipients.end(),
            [](const auto& entry) { return entry->m_status == kWaiting; });
        if (!waiting || message->m_requiredSendTime > CurrentQuillTime())
            continue;
        for (std::size_t i = 0; i < message->m_recipients.size(); ++i) {
            const CRecipientEntry& entry = *message->m_recipients[i];
            if (entry.m_status != kWaiting)
                continue;
            if (const CServiceProvider* provider = doc.FindProviderForUser(entry.m_recipient)) {
                SendOrder order = MakeOrder(doc, *message, i, *provider);
                // The password stays in the database until a call needs it. Should it
                // not be readable now, nothing is sent: a log-on without it would be
                // refused and count as a failed attempt.
                try {
                    const std::optional<ProviderDetails> stored = ReadProvider(provider->m_id);
                    order.password = stored ? stored->password : QString();
                } catch (const CDaoException&) {
                    return std::nullopt;
                }
                return order;
            }
        }
    }
    return std::nullopt;
}
