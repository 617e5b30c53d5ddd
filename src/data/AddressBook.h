#pragma once

#include <QString>
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

class CQuillpostDoc;

// Reading and writing one user, group or service provider for the address book
// commands. Everything handed in or out is a copy, so a reload of the document while
// a dialog is open cannot pull anything from under a command. Every function throws
// CDaoException when the database fails; a failed save or delete leaves the tables as
// they were, because each runs in one transaction.

constexpr std::size_t kGroupSlots = 10; // Users.Group1 .. Users.Group10

// A user's row as the user dialog shows it.
struct UserDetails
{
    QString name;
    QString telephoneNumber;
    std::int32_t preferredProvider = 0; // 0: the default provider
    std::vector<std::int32_t> groupIds; // in list order, without zeros
};

// A provider's row as the provider dialog shows it; the defaults are a new
// provider's. TAPType is not part of it.
struct ProviderDetails
{
    QString serviceName;
    QString accessNumber;
    std::int32_t baudRate = 9600;
    std::int32_t stopBits = 1;
    std::int32_t parity = 0; // 0 none, 1 even, 2 odd
    std::int32_t dataBits = 8;
    bool useAsDefault = false;
    QString password; // sent with the log-on; empty: none
};

// A user or group the operator may pick in a list: its ID and the name shown.
struct RecordChoice
{
    std::int32_t id = 0;
    QString name;
};

// The first ten identifiers go to the columns in order; the columns after them hold 0.
std::array<std::int32_t, kGroupSlots> PackGroups(const std::vector<std::int32_t>& groupIds);
// The non-zero columns, in slot order.
std::vector<std::int32_t> UnpackGroups(const std::array<std::int32_t, kGroupSlots>& columns);

// The document's users or groups, copied, in the document's order.
std::vector<RecordChoice> CopyUserChoices(const CQuillpostDoc& doc);
std::vector<RecordChoice> CopyGroupChoices(const CQuillpostDoc& doc);

// The row with that ID, or nothing when the table has none.
std::optional<UserDetails> ReadUser(std::int32_t id);
std::optional<QString> ReadGroupName(std::int32_t id);
std::optional<ProviderDetails> ReadProvider(std::int32_t id);

// Without an ID a row is added, otherwise the row with that ID is changed (and it is
// an error when it is gone). Each returns the ID of the row written.
std::int32_t SaveUser(std::optional<std::int32_t> id, const UserDetails& user);
std::int32_t SaveGroup(std::optional<std::int32_t> id, const QString& name);
// TAPType becomes 1. A provider saved as the default is the only default afterwards;
// one saved without the flag leaves the other rows alone.
std::int32_t SaveProvider(std::optional<std::int32_t> id, const ProviderDetails& provider);

// Deletes only that row: references to it in other rows and tables stay. False when
// the row was already gone.
bool DeleteUser(std::int32_t id);
bool DeleteGroup(std::int32_t id);
bool DeleteProvider(std::int32_t id);
