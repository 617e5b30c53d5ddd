#pragma once

#include "TempDatabase.h"
#include "data/QuillpostDoc.h"
#include "dispatch/SendSession.h"
#include "modem/ModemList.h"

#include <QEventLoop>
#include <QTimer>

// What a send leaves, as text to compare: a message row, and one send-log entry.
inline const QString kStatusRetries = QStringLiteral("Status || ',' || Retries");
inline const QString kSendLogEntry
    = QStringLiteral("PagerId || ',' || Outcome || ',' || ifnull(TerminalLine, '')");

// One provider and one message to `retries.size()` users whose pagers are 1001, 1002 ...;
// row i has Retries retries[i] and is due at `due`.
inline void QueueMessage(const TempDatabase& db, const QString& accessNumber,
    const QList<int>& retries, const QString& text, const QString& due)
{
    db.addProvider("P1", accessNumber, 1);
    for (int i = 0; i < retries.size(); ++i) {
        const int user
            = db.addUser(QStringLiteral("User %1").arg(i + 1), QString::number(1001 + i));
        db.exec("UPDATE Messages SET Retries = ? WHERE ID = ?",
            { retries[i], db.addMessageRow(user, 0, text, 0, due) });
    }
    db.exec("UPDATE Messages SET MessageId = (SELECT min(ID) FROM Messages)");
}

// One send of the due message, from the scheduler's choice to its closing, as its host
// keeping what the send showed.
struct Send final : ISendHost
{
    Send(CModemList& modems, SendTiming timing)
    {
        doc.ReloadAll();
        if (std::optional<SendOrder> order = ChooseDueSend(doc))
            session = std::make_unique<CSendSession>(std::move(*order), modems, *this, timing);
    }
    // False when nothing was due, or the send never closed. The send's timer runs at its
    // own pace meanwhile, so that 1200 short ticks pass in seconds.
    bool Run(int waitMs)
    {
        if (!session)
            return false;
        QTimer deadline; // gone with the send, unlike a single-shot timer left pending
        deadline.setSingleShot(true);
        QObject::connect(&deadline, &QTimer::timeout, &waiting, &QEventLoop::quit);
        deadline.start(waitMs);
        session->Start();
        if (!closed)
            waiting.exec();
        return closed;
    }

    void ShowSendStatus(const QString& text) override { statuses << text; }
    void ShowTerminalLine(const QString& line) override { lines << line; }
    void SendResultRecorded() override { }
    void SendClosed() override
    {
        localFault = session->LocalFault();
        closed = true;
        waiting.quit();
    }

    QStringList statuses;
    QStringList lines; // what the terminal said, as shown
    bool closed = false;
    QString localFault; // as the send gave it when it closed
    QEventLoop waiting;
    CQuillpostDoc doc;
    std::unique_ptr<CSendSession> session;
};
