#pragma once

#include "carrier/CarrierAddress.h"

#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

// lParam of IPageCallOwner::OnLineFailed
inline constexpr std::intptr_t kLineFailedBusyOrDropped = 64;
inline constexpr std::intptr_t kLineFailedBeforeExchange = 0;
// This side could not place the call (IPageCall::LocalFault says why): nothing went out,
// so no recipient had an attempt.
inline constexpr std::intptr_t kLineFailedLocalFault = 1;

// Who hears how a call goes (the send). Line events arrive later on the owner's thread,
// in order, and never after the call is closed; verdicts are handed over directly on
// that thread. The owner may hang up and close the call from inside any of them; it must
// not delete the call synchronously there (deleteLater is fine).
class IPageCallOwner
{
public:
    virtual ~IPageCallOwner() = default;
    // The call is connected and the provider can be talked to; wParam is the line
    // device number (0 for a carrier without one).
    virtual void OnLineConnected(std::uintptr_t wParam) = 0;
    // Busy, or the call ended; lParam is one of the kLineFailed values above.
    virtual void OnLineFailed(std::uintptr_t wParam, std::intptr_t lParam) = 0;
    // The provider took the current recipient's page.
    virtual void OnTapAccepted() = 0;
    // The provider refused the current recipient's page and the call is over (TAP: NAK
    // or RS, after which the logout has been written).
    virtual void OnTapRefused() = 0;
    // The provider refused the current recipient's page and the call goes on: the owner
    // counts the attempt, then sends the next recipient's page or finishes. An owner that
    // cannot go on treats it as a refusal that ends the call.
    virtual void OnPageRefused() { OnTapRefused(); }
    // The provider ended the call. `acceptedFirst`: the same reply accepted the page just
    // sent, so that page counts as delivered.
    virtual void OnTapEnded(bool /*acceptedFirst*/) { }
    // A new reply line from the provider (its code and text), which comes before the
    // verdict it explains. The owner may only take note of it here.
    virtual void OnTapTerminalLine(const QString& /*line*/) { }
};

// What one call needs to know of its send, copied when the call is made.
struct PageCallRequest
{
    QString accessNumber; // as stored
    CarrierAddress address; // the access number read
    QString providerName; // as faults and the send log name the provider
    QString password; // the provider's stored password; empty: none
    QString message; // the text of every page of the call
    // The framing of a line device's port: 'N', 'E' or 'O', data bits, stop bits.
    char parity = 'N';
    std::int32_t dataBits = 8;
    std::int32_t stopBits = 1;
    int hangUpPauseMs = 0; // after dropping a modem's call, so that it goes on hook
    std::int32_t messageId = 0; // the message's ID, which a carrier may quote back
    int timeoutMs = 120000; // the send gives up after this long; no wait may outlast it
    QString lineName; // the line device of a dialled call; empty: the stored modem name's
};

// One call to one provider, over which every recipient of one message is paged in
// turn. The send drives it from its own thread: Place, then on OnLineConnected Begin; on
// each verdict SetPager and SendPage for the next recipient, or Finish; then HangUp and
// Close. Everything reaches the owner on that thread.
class IPageCall
{
public:
    virtual ~IPageCall() = default;
    // Opens the way in and starts the call; from now on the owner hears of it. Why this
    // side cannot (nothing went out), or nothing.
    virtual std::optional<QString> Place(IPageCallOwner& owner) = 0;
    // The recipient whose page goes out next, by pager ID; set before Place for the first.
    virtual void SetPager(const QString& pagerId) = 0;
    // The call connected: logs in and sends the first recipient's page.
    virtual void Begin() = 0;
    // Sends the page of the recipient set last.
    virtual void SendPage() = 0;
    // Every page has had its verdict: logs out.
    virtual void Finish() = 0;
    // The send's 100 ms tick: repeats what the protocol repeats while it waits.
    virtual void OnTick() = 0;
    // The provider's last reply line in this call, as the send log keeps it.
    virtual QString TerminalLine() const = 0;
    // Why this side failed, once the owner heard kLineFailedLocalFault; empty before.
    virtual QString LocalFault() const = 0;
    // Ends the call: nothing received afterwards reaches the owner.
    virtual void HangUp() = 0;
    // Releases the way in; nothing queued reaches the owner afterwards.
    virtual void Close() = 0;
};

// How a send gets its call for an access number.
using PageCallFactory = std::function<std::unique_ptr<IPageCall>(const PageCallRequest&)>;
