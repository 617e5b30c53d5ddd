#pragma once

#include <cstdint>

// What a Messages row's Status says about its recipient's page.
enum class MessageStatus : std::int32_t
{
    Waiting = 0, // due, or failed fewer than kMaxAttempts times
    Sent = 1,
    Failed = 2, // given up
};

// The failed attempt that gives a recipient up.
inline constexpr std::int32_t kMaxAttempts = 4;

// The Status column is a plain integer, and a foreign or damaged file may hold any
// value there. What is read from it stays an integer, so that such a value is kept
// and shown as it is, and is compared with a status as it stands: 7 equals none.
constexpr std::int32_t StatusValue(MessageStatus status)
{
    return static_cast<std::int32_t>(status);
}

constexpr bool operator==(std::int32_t stored, MessageStatus status)
{
    return stored == StatusValue(status);
}
