#include "gateway/SnppQueue.h"

#include "data/QuillTime.h"
#include "dispatch/MessageQueue.h"
#include "dispatch/RecipientNames.h"
#include "platform/db/DaoException.h"

#include <QStringList>

namespace {

using Outcome = SnppSubmitResult::Outcome;

// A refusal lists candidates on further lines; a reply line holds only the first.
QString firstLine(const QString& text)
{
    return text.section(QLatin1Char('\n'), 0, 0);
}

} // namespace

QString SnppPagerRefusal(const QString& pagerId)
{
    try {
        CRecipientNames names(CRecipientNames::PagerNumbers::Matched);
        return firstLine(names.Add(pagerId));
    } catch (const CDaoException& failure) {
        return QStringLiteral("the address book cannot be read: ") + failure.reason();
    }
}

SnppQueued QueueSnppMessage(const SnppMessage& message)
{
    const COleDateTime due = message.due.value_or(COleDateTime::GetCurrentTime());
    if (const QString refusal = DueTimeRefusal(due); !refusal.isEmpty())
        return { { Outcome::Refused, 0, refusal }, {} };
    try {
        CRecipientNames names(CRecipientNames::PagerNumbers::Matched);
        for (const QString& pagerId : message.pagerIds)
            if (const QString refusal = names.Add(pagerId); !refusal.isEmpty())
                return { { Outcome::Refused, 0, firstLine(refusal) }, {} };
        const SubmittedMessage queued = QueueSubmittedText(message.text, due, names.Recipients());
        QStringList recipients;
        for (const std::int32_t id : names.Recipients())
            recipients << QStringLiteral("%1 (#%2)").arg(names.NameOf(id)).arg(id);
        return { { Outcome::Queued, queued.messageId, {} }, recipients.join(QStringLiteral(", ")) };
    } catch (const CDaoException& failure) {
        return { { Outcome::Failed, 0, firstLine(failure.reason()) }, {} };
    }
}
