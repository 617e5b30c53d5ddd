#include "dispatch/SendOrder.h"

#include "data/AddressBook.h"
#include "data/QuillTime.h"
#include "data/QuillpostDoc.h"
#include "platform/LogCategories.h"
#include "platform/db/DaoException.h"

#include <algorithm>

namespace {

bool IsOpen(const CRecipientEntry& entry, std::int32_t messageId, const SendChoiceRules& rules)
{
    return entry.m_status == MessageStatus::Waiting
        && !rules.settled.contains({ messageId, entry.m_recipient });
}

void AddRecipient(SendOrder& order, const CQuillpostDoc& doc, std::int32_t userId)
{
    order.recipients.push_back(userId);
    order.pagerIds.push_back(doc.GetTelephoneNumber(userId));
}

SendOrder MakeOrder(const CQuillpostDoc& doc, const CSendJob& message, std::size_t chosen,
    const CServiceProvider& provider, const SendChoiceRules& rules)
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
    order.providerId = provider.m_id;

    AddRecipient(order, doc, message.m_recipients[chosen]->m_recipient);
    for (std::size_t i = chosen + 1; i < message.m_recipients.size(); ++i) {
        const CRecipientEntry& entry = *message.m_recipients[i];
        if (IsOpen(entry, message.m_messageId, rules)
            && doc.FindProviderForUser(entry.m_recipient) == &provider)
            AddRecipient(order, doc, entry.m_recipient);
    }
    return order;
}

struct Candidate
{
    const CSendJob* message = nullptr;
    std::size_t entry = 0;
    const CServiceProvider* provider = nullptr;
    std::uint64_t lastCall = 0;
};

// The first entry, in table order, of the provider called longest ago.
std::optional<Candidate> FindCandidate(const CQuillpostDoc& doc, const SendChoiceRules& rules)
{
    std::optional<Candidate> best;
    for (const auto& message : doc.m_messages) {
        // Most messages are long done: only one with an open entry needs the clock.
        const bool open = std::any_of(message->m_recipients.begin(), message->m_recipients.end(),
            [&](const auto& entry) { return IsOpen(*entry, message->m_messageId, rules); });
        if (!open || message->m_requiredSendTime > CurrentQuillTime())
            continue;
        for (std::size_t i = 0; i < message->m_recipients.size(); ++i) {
            const CRecipientEntry& entry = *message->m_recipients[i];
            if (!IsOpen(entry, message->m_messageId, rules))
                continue;
            const CServiceProvider* provider = doc.FindProviderForUser(entry.m_recipient);
            if (!provider || rules.passedOver.count(provider->m_id)
                || rules.inFlight.count({ message->m_messageId, provider->m_id }))
                continue;
            const auto called = rules.lastCall.find(provider->m_id);
            const std::uint64_t lastCall = called == rules.lastCall.end() ? 0 : called->second;
            if (!best || lastCall < best->lastCall)
                best = Candidate { message.get(), i, provider, lastCall };
            // Nothing goes before a provider that has not been called.
            if (lastCall == 0)
                return best;
        }
    }
    return best;
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

std::optional<SendOrder> ChooseDueSend(const CQuillpostDoc& doc, const SendChoiceRules& rules)
{
    const std::optional<Candidate> chosen = FindCandidate(doc, rules);
    if (!chosen)
        return std::nullopt;
    SendOrder order = MakeOrder(doc, *chosen->message, chosen->entry, *chosen->provider, rules);
    // The password stays in the database until a call needs it. Should it not be
    // readable now, nothing is sent: a log-on without it would be refused and count as
    // a failed attempt.
    try {
        const std::optional<ProviderDetails> stored = ReadProvider(chosen->provider->m_id);
        order.password = stored ? stored->password : QString();
    } catch (const CDaoException& failure) {
        qCWarning(lcDatabase, "Not sending message %d: the provider's password cannot be read: %s",
            chosen->message->m_messageId, qUtf8Printable(failure.reason()));
        return std::nullopt;
    }
    return order;
}
