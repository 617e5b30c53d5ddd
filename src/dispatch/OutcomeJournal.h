#pragma once

#include "dispatch/SendResult.h"

#include <QString>
#include <cstdint>
#include <set>
#include <utility>
#include <vector>

// Pages a terminal accepted whose outcome the database would not take (a full disk, a
// file made read-only, another program holding it past every wait). Such a page must
// never be sent again, so its outcome is kept: in memory, and in a small file beside
// the database (its name with ".outcomes" added) where that can be written, so that a
// restart does not forget it either. Each scheduler run tries to record what is kept,
// and the scheduler never chooses a kept recipient meanwhile.
class COutcomeJournal
{
public:
    static QString JournalPath(const QString& databasePath);

    // Reads what an earlier run left in the file beside `databasePath`, once per
    // database; what is already kept in memory stays.
    void Load(const QString& databasePath);
    // Keeps an accepted page and writes the file. True the first time a recipient of
    // this message is kept, so that the operator is told once per message.
    bool Keep(const SendAttempt& attempt);
    // Records what is kept, as far as the database takes it now; what went in, or whose
    // row is gone, is dropped from the journal. The messages recorded.
    std::vector<std::int32_t> Replay();

    bool IsEmpty() const { return m_kept.empty(); }
    // The kept recipients as (message ID, user ID).
    std::set<std::pair<std::int32_t, std::int32_t>> Recipients() const;

private:
    void Save() const;

    QString m_strDatabasePath;
    std::vector<SendAttempt> m_kept;
};
