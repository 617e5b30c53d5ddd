#pragma once

#include "carrier/PageCall.h"
#include "modem/ModemConnection.h"

class CModemList;

// A call through a line device (a Hayes modem, a direct link or a TCP line): the one the
// scheduler gave the send, else the one the stored modem name names. It finds the device
// by name, opens its line, dials the access number (a modem only) and talks TAP over the
// connected port.
class CModemPageCall final : public IPageCall
{
public:
    CModemPageCall(CModemList& modems, PageCallRequest request);

    std::optional<QString> Place(IPageCallOwner& owner) override;
    void SetPager(const QString& pagerId) override;
    void Begin() override;
    void SendPage() override;
    void Finish() override;
    void OnTick() override;
    QString TerminalLine() const override;
    QString LocalFault() const override;
    void HangUp() override;
    void Close() override;

private:
    CModemList& m_modems;
    PageCallRequest m_request;
    CModemConnection m_connection;
};

// The calls of the program's sends: an access number that is dialled goes through the
// chosen line device, a URL through its carrier, which never consults the modem.
PageCallFactory SendPageCalls(CModemList& modems);
