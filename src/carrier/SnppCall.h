#pragma once

#include "carrier/CarrierLink.h"
#include "carrier/PageCall.h"

// An SNPP client (snpp://[login@]host[:port], snpps://...): after the server's 220
// greeting it logs in with LOGI when the address names a login, then pages each
// recipient with PAGE, MESS and SEND, and leaves with QUIT. A 2xx reply goes on; a 5xx
// to a page's command refuses that recipient (RESE clears the transaction before the
// next); a 5xx to LOGI refuses the call; a 4xx, or anything unreadable, loses the line.
class CSnppCall final : public IPageCall, ICarrierLinkOwner
{
public:
    explicit CSnppCall(PageCallRequest request);

    std::optional<QString> Place(IPageCallOwner& owner) override;
    void SetPager(const QString& pagerId) override;
    void Begin() override;
    void SendPage() override;
    void Finish() override;
    void OnTick() override { }
    QString TerminalLine() const override { return m_strVerdictLine; }
    QString LocalFault() const override { return {}; }
    void HangUp() override;
    void Close() override;

    // The longest reply line kept; a longer one is cut.
    static constexpr int kReplyLineLength = 80;

private:
    // What the reply now awaited answers.
    enum class Step
    {
        Idle,
        Greeting,
        Login,
        Pager,
        Message,
        Send,
        Reset,
        Quit,
    };

    void OnLinkConnected() override;
    void OnLinkData(const QByteArray& bytes) override;
    void OnLinkLost(const QString& reason, bool connected) override;

    void Command(Step step, const QByteArray& line);
    void OnReply(int code, const QString& line);
    void OnSuccess();
    void LoseLine(const QString& line);

    PageCallRequest m_request;
    CCarrierLink m_link;
    IPageCallOwner* m_pOwner = nullptr;
    QByteArray m_pagerId;
    QByteArray m_buffer; // received bytes short of a whole line
    Step m_step = Step::Idle;
    QString m_strVerdictLine; // the reply that explains the last verdict
};
