#pragma once

#include "platform/telephony/LineDevices.h"
#include "platform/telephony/Telephony.h"

#include <QString>
#include <atomic>
#include <functional>

// One call on a line device. The dialogue with the device runs on the device's
// worker thread; the line interface's own bookkeeping (state, dropped) is touched on
// its thread only. The flags in between are atomic.
struct LineCall
{
    CallHandle handle = 0;
    LineHandle line = 0;
    LineDevice device;
    QString accessNumber;
    std::atomic<bool> incoming { false };

    std::atomic<int> fd { -1 };
    std::atomic<bool> dropRequested { false };
    std::atomic<bool> answerRequested { false };
    std::atomic<bool> inDataMode { false };
    std::atomic<bool> stopping { false }; // the line interface is being destroyed
    // Why this side could not place the call: written by the worker before it posts
    // the disconnection that reports it, read on the line interface's thread only once
    // that event has arrived.
    QString localFault;

    // Line interface thread only.
    std::uint32_t state = 0;
    std::uint32_t disconnectMode = 0;
    bool dropped = false;
    bool carrierSeen = false;
};

// Posts an event of the call to the line interface's thread.
using CallEventPoster
    = std::function<void(std::uint32_t message, std::uint32_t param1, std::uint32_t param2)>;

// Opens the device and carries the call to connected, busy or disconnected (or to
// ringing for a call the modem offers), posting each state. Worker thread.
void RunCallDialogue(LineCall& call, const CallEventPoster& post);
// Ends the call and leaves the device ready for the next one: a modem back in
// command mode, the descriptor closed. Worker thread.
void RunCallDrop(LineCall& call);
