#pragma once

#include "data/Records.h"

#include <QString>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <utility>
#include <vector>

class COutcomeJournal;
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
    std::int32_t providerId = 0;
    // The line device a dialled provider's call goes through; empty: the one the stored
    // modem name names. Set by the scheduler; unused for a provider reached by URL.
    QString lineName;
    // The scheduler's number for this send, which its host quotes back when it closes.
    std::uint64_t sendNumber = 0;
    // Keeps a page the terminal accepted when the database will not take its outcome;
    // null: such an outcome is only reported.
    COutcomeJournal* journal = nullptr;
};

// What the scheduler knows beyond the document when it chooses.
struct SendChoiceRules
{
    // Recipients (message ID, user ID) whose page was accepted but whose outcome is
    // not stored yet: they are never chosen again.
    std::set<std::pair<std::int32_t, std::int32_t>> settled;
    // When each provider's last call started, as a rising count; a provider missing
    // here has not been called.
    std::map<std::int32_t, std::uint64_t> lastCall;
    // Providers passed over in this choice (their access number cannot be called, or
    // no line or call is free for them).
    std::set<std::int32_t> passedOver;
    // (message ID, provider ID) groups being sent now: never chosen twice at once.
    std::set<std::pair<std::int32_t, std::int32_t>> inFlight;
};

// The provider's parity code as the letter the port framing takes: 0 'N', 1 'E',
// anything else 'O'.
char ParityLetter(std::int32_t parity);

// The scheduler's choice: among the waiting entries of due messages (by the program's
// clock, read afresh for each message) whose user is reached through a service
// provider, the providers take turns: the one whose last call started longest ago (or
// that has not been called) goes first, and between equals the first entry in table
// order. So a provider that keeps failing holds up no other: each provider with due
// messages gets a call before it gets a second one. The chosen entry comes with the
// later waiting entries of the same message reached through that same provider, and
// with the provider's password read from the database. Nothing when no entry
// qualifies, or when that password cannot be read just now. A page already delivered
// (or given up, or settled) is never collected again, even when a provider change
// would now route it through the chosen one.
std::optional<SendOrder> ChooseDueSend(const CQuillpostDoc& doc, const SendChoiceRules& rules = {});
