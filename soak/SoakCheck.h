#pragma once

#include "PagingSimulator.h"
#include "data/MessageStatus.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QStringList>
#include <algorithm>
#include <map>
#include <tuple>
#include <vector>

// One row of the Messages table as the soak run reads it back at the end.
struct SoakRow
{
    int id = 0;
    QByteArray pagerId;
    QByteArray text;
    int status = 0;
    int retries = 0;
};

// What the rows and the terminal's pages say together.
struct SoakVerdict
{
    int rows = 0;
    int sent = 0;
    int givenUp = 0;
    // Pages of a row beyond its first; each one had its acknowledgement cut by the line
    // (any other would be counted as a contradiction instead).
    int duplicates = 0;
    QStringList stuck; // rows still waiting, one line each
    QStringList lost; // rows whose state contradicts the terminal's pages, one line each
    QStringList strangers; // pages that belong to no row
};

using quillpost::sim::AcceptedPage;

// The pages several lines' terminals took, as if one terminal had taken them all. Each
// terminal numbers its own calls, so the calls of all lines are numbered afresh in the
// order their first pages came (then by line): "an earlier call" then means the same
// across lines, since a row is never in two calls at once. One line's pages stay as
// they are.
inline QList<AcceptedPage> MergeLinePages(const QList<QList<AcceptedPage>>& lines)
{
    if (lines.size() == 1)
        return lines.front();
    std::map<std::pair<int, int>, QDateTime> firstPages; // by (line, call)
    for (int line = 0; line < lines.size(); ++line)
        for (const AcceptedPage& page : lines[line]) {
            const auto [call, added] = firstPages.try_emplace({ line, page.call }, page.time);
            if (!added && page.time < call->second)
                call->second = page.time;
        }
    std::vector<std::tuple<QDateTime, int, int>> order; // first page, line, call
    for (const auto& [call, time] : firstPages)
        order.emplace_back(time, call.first, call.second);
    std::sort(order.begin(), order.end());
    std::map<std::pair<int, int>, int> numbers;
    for (std::size_t i = 0; i < order.size(); ++i)
        numbers[{ std::get<1>(order[i]), std::get<2>(order[i]) }] = int(i) + 1;
    QList<AcceptedPage> merged;
    for (int line = 0; line < lines.size(); ++line)
        for (AcceptedPage page : lines[line]) {
            page.call = numbers[{ line, page.call }];
            merged.append(page);
        }
    return merged;
}

// What is wrong with a row given the terminal's pages for it; empty when nothing is.
inline QString Contradiction(const SoakRow& row, const QList<AcceptedPage>& pages)
{
    const auto isAcknowledged = [](const AcceptedPage& page) { return page.acknowledged; };
    const auto acknowledged = std::count_if(pages.begin(), pages.end(), isAcknowledged);
    if (row.status == MessageStatus::Failed && acknowledged > 0)
        return QStringLiteral("given up, yet the terminal acknowledged it %1 time(s)")
            .arg(acknowledged);
    if (row.status == MessageStatus::Failed)
        return row.retries == kMaxAttempts
            ? QString()
            : QStringLiteral("given up after %1 failed attempt(s)").arg(row.retries);
    if (row.status != MessageStatus::Sent)
        return QStringLiteral("Status %1 is neither sent nor given up").arg(row.status);
    if (acknowledged != 1)
        return QStringLiteral("marked sent, but the terminal acknowledged it %1 time(s)")
            .arg(acknowledged);
    const auto delivered = std::find_if(pages.begin(), pages.end(), isAcknowledged);
    for (const AcceptedPage& page : pages) {
        if (!page.acknowledged && page.call >= delivered->call)
            return QStringLiteral("sent again in call %1 after its acknowledgement in call %2")
                .arg(page.call)
                .arg(delivered->call);
    }
    return {};
}

// Checks every row against the pages the terminal took for its pager ID and text:
// a row marked sent has exactly one acknowledged page, and every other page of it came
// in an earlier call and lost its acknowledgement with the line; a row given up has no
// acknowledged page and its fourth failed attempt recorded; no row is left waiting; and
// every page belongs to a row.
inline SoakVerdict CheckSoakRows(const QList<SoakRow>& rows, const QList<AcceptedPage>& pages)
{
    QHash<std::pair<QByteArray, QByteArray>, QList<AcceptedPage>> pagesByRow; // by pager ID, text
    for (const AcceptedPage& page : pages)
        pagesByRow[{ page.pagerId, page.text }].append(page);

    SoakVerdict verdict;
    for (const SoakRow& row : rows) {
        ++verdict.rows;
        const QList<AcceptedPage> own = pagesByRow.take({ row.pagerId, row.text });
        verdict.duplicates += std::max(0, int(own.size()) - 1);
        const QString described
            = QStringLiteral("row %1 (pager %2, \"%3\", Status %4, Retries %5)")
                  .arg(row.id)
                  .arg(QString::fromLatin1(row.pagerId), QString::fromLatin1(row.text))
                  .arg(row.status)
                  .arg(row.retries);
        if (row.status == MessageStatus::Waiting) {
            verdict.stuck << described;
            continue;
        }
        verdict.sent += row.status == MessageStatus::Sent ? 1 : 0;
        verdict.givenUp += row.status == MessageStatus::Failed ? 1 : 0;
        QStringList calls; // " (call 3 acknowledged, call 5 ACK lost)"
        for (const AcceptedPage& page : own)
            calls << QStringLiteral("call %1 %2")
                         .arg(page.call)
                         .arg(page.acknowledged ? "acknowledged" : "ACK lost");
        if (const QString wrong = Contradiction(row, own); !wrong.isEmpty())
            verdict.lost << described + ": " + wrong
                    + (calls.isEmpty() ? QString() : " (" + calls.join(", ") + ')');
    }
    for (auto it = pagesByRow.cbegin(); it != pagesByRow.cend(); ++it)
        verdict.strangers << QStringLiteral("%1 page(s) to pager %2 with \"%3\"")
                                 .arg(it.value().size())
                                 .arg(QString::fromLatin1(it.key().first),
                                     QString::fromLatin1(it.key().second));
    return verdict;
}
