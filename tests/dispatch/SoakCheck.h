#pragma once

#include "PagingSimulator.h"

#include <QByteArray>
#include <QList>
#include <QStringList>

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

// Checks every row against the pages the terminal took for its pager ID and text:
// a row marked sent has exactly one acknowledged page, and every other page of it came
// in an earlier call and lost its acknowledgement with the line; a row given up has no
// acknowledged page and its fourth failed attempt recorded; no row is left waiting; and
// every page belongs to a row.
SoakVerdict CheckSoakRows(
    const QList<SoakRow>& rows, const QList<quillpost::sim::AcceptedPage>& pages);
