#pragma once

#include "platform/LogCategories.h"
#include "platform/Prompt.h"
#include "platform/db/DaoException.h"

#include <QDialog>
#include <optional>

// Steps the record and message commands share.

// The read before a dialog or a question. A database error there ends the command
// without a word to the operator, as nothing has been written yet: nothing is
// returned, as for a row that is not there. Its reason goes to the log.
template <typename Read> auto ReadQuietly(Read read) -> decltype(read())
{
    try {
        return read();
    } catch (const CDaoException& failure) {
        qCWarning(lcDatabase, "The command ends: what it shows cannot be read: %s", failure.what());
        return std::nullopt;
    }
}

// Runs the dialog until the operator cancels it or `save` succeeds. When the database
// refuses the save (another program holding it past the busy time-out, a full disk),
// the operator is told `failed` and why, and the dialog is shown again as it was
// left, so that nothing typed is lost. True once a save was tried, whatever came of
// it: the tables are then to be read again.
template <typename Save> bool ExecUntilSaved(QDialog& dlg, const QString& failed, Save save)
{
    bool tried = false;
    while (dlg.exec() == QDialog::Accepted) {
        tried = true;
        try {
            save();
            return true;
        } catch (const CDaoException& failure) {
            Prompt::current().inform(QStringLiteral("%1: %2\n\nNothing of it was written. It is "
                                                    "shown again so that you can try once more.")
                                         .arg(failed, failure.reason()));
        }
    }
    return tried;
}
