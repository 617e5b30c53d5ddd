#pragma once

#include "FakeTelephony.h"
#include "PresetPrompt.h"
#include "modem/ModemConnection.h"
#include "modem/ModemList.h"

#include <QByteArray>
#include <QStringList>
#include <functional>
#include <memory>

// The sending window's part, written down: every message it gets, in order.
class RecordingOwner final : public IModemConnectionOwner
{
public:
    QStringList events;
    std::function<void()> onAccepted;
    std::function<void(std::intptr_t)> onFailed;

    void OnLineConnected(std::uintptr_t wParam) override;
    void OnLineFailed(std::uintptr_t wParam, std::intptr_t lParam) override;
    void OnTapAccepted() override;
    void OnTapRefused() override;
};

// A modem list over a fake line interface with two devices, the second one stored,
// and the far end of the data handle as a socket the test reads and writes.
class ConnectionFixture
{
public:
    ConnectionFixture();
    ~ConnectionFixture();

    // Opens device 1 and dials.
    void OpenAndDial(CModemConnection& connection);
    // Everything the far end has received since the start.
    QByteArray FarEndReceived();
    void FarEndSend(const QByteArray& bytes);
    void CloseFarEnd();

    PresetPrompt prompt;
    FakeTelephony telephony;
    CModemList modems;
    RecordingOwner owner;
    int farEnd = -1;
    QByteArray farEndLog;
};
