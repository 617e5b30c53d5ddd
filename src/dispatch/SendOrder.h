#pragma once

#include "data/Records.h"

#include <QString>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

class CQuillpostDoc;

// Everything one send needs, copied out of the document so that the send is unaffected
// by the reloads that recording each result causes: the message, the recipients reached
// through one service provider in the message's order, their telephone numbers as pager
// identifiers, and the provider's access number and line settings.
struct SendOrder
{
    std::unique_ptr<CSendJob> job;
    std::vector<std::int32_t> recipients;
    std::vector<QString> pagerIds; // parallel to recipients
    QString accessNumber;
    char parity = 'N'; // 'N', 'E' or 'O'
    std::int32_t dataBits = 8;
    std::int32_t stopBits = 1;
    QString text;
    QString providerName; // as the send log names the provider
    QString password; // sent with the log-on; empty: none. Read from the database, never
                      // kept in the document.
};

// The provider's parity code as the letter the port framing takes: 0 'N', 1 'E',
// anything else 'O'.
char ParityLetter(std::int32_t parity);

// The scheduler's choice: walks the messages in table order and takes the first
// waiting entry of a message that is due (by the program's clock, read afresh for each
// message) whose user is reached through a service provider, together with the later
// waiting entries of the same message reached through that same provider, with the
// provider's password read from the database. Nothing when no entry qualifies, or
// when that password cannot be read just now. A page already delivered (or given up)
// is never collected again, even when a provider change would now route it through
// the chosen one.
std::optional<SendOrder> ChooseDueSend(const CQuillpostDoc& doc);
