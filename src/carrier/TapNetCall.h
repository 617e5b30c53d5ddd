#pragma once

#include "carrier/CarrierLink.h"
#include "carrier/PageCall.h"
#include "tap/TapExchange.h"

// TAP straight over TCP or TLS (tap://host:port, taps://host:port): the same exchange
// as on a modem's line, with no dialling in front of it.
class CTapNetCall final : public IPageCall, ITapLine, ITapOwner, ICarrierLinkOwner
{
public:
    explicit CTapNetCall(PageCallRequest request);

    std::optional<QString> Place(IPageCallOwner& owner) override;
    void SetPager(const QString& pagerId) override;
    void Begin() override;
    void SendPage() override;
    void Finish() override;
    void OnTick() override;
    QString TerminalLine() const override;
    QString LocalFault() const override { return {}; }
    void HangUp() override;
    void Close() override;

private:
    void WriteText(const QByteArray& bytes) override;
    // A network line needs no pause for the logout to be heard: HangUp sends it first.
    void Pause(int) override { }
    void OnTapAccepted() override;
    void OnTapRefused() override;
    void OnTapEnded(bool acceptedFirst) override;
    void OnTapTerminalLine(const QString& line) override;
    void OnLinkConnected() override;
    void OnLinkData(const QByteArray& bytes) override;
    void OnLinkLost(const QString& reason, bool connected) override;

    PageCallRequest m_request;
    CTapExchange m_exchange;
    CCarrierLink m_link;
    IPageCallOwner* m_pOwner = nullptr;
    QString m_strLinkFault; // why the connection never came up
};
