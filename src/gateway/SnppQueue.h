#pragma once

#include "gateway/SnppSession.h"

#include <QString>

// What an SNPP message does to the database: pager IDs resolved as quillpost-send
// resolves its recipients, with a user's pager number (Users.TelephoneNumber) as one
// more name, and the message queued as quillpost-send queues it.

// Why the pager ID names nobody (one line); empty when it names someone.
QString SnppPagerRefusal(const QString& pagerId);

struct SnppQueued
{
    SnppSubmitResult result;
    QString recipients; // "Alice Marsh (#1), Ben Okafor (#2)" when queued
};

// Resolves every pager ID again and queues the message in one transaction; the result
// is known once it has committed.
SnppQueued QueueSnppMessage(const SnppMessage& message);
