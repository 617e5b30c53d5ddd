#pragma once

#include "carrier/PageCall.h"

// The call for an access number that needs no line device (a URL). A refused URL, or a
// way in this program cannot use yet, gives a call that fails at once as this side's
// fault: nothing goes out and no recipient loses an attempt.
std::unique_ptr<IPageCall> MakeCarrierCall(const PageCallRequest& request);

// A call that this side cannot place, for the reason given; it goes no further than Place.
class CUnplaceablePageCall final : public IPageCall
{
public:
    explicit CUnplaceablePageCall(QString fault)
        : m_strFault(std::move(fault))
    {
    }
    std::optional<QString> Place(IPageCallOwner&) override { return m_strFault; }
    void SetPager(const QString&) override { }
    void Begin() override { }
    void SendPage() override { }
    void Finish() override { }
    void OnTick() override { }
    QString TerminalLine() const override { return {}; }
    QString LocalFault() const override { return m_strFault; }
    void HangUp() override { }
    void Close() override { }

private:
    QString m_strFault;
};
