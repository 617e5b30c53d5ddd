#pragma once

#include "carrier/CarrierLink.h"
#include "carrier/HttpExchange.h"
#include "carrier/PageCall.h"

#include <QObject>
#include <memory>

struct WctpReply;

// A call to a WCTP gateway (http:// or https://): one wctp-SubmitRequest POSTed per
// recipient, one at a time, over one keep-alive connection (a new one only when the
// gateway closed the last between two pages). A request is never sent twice: when
// the connection is lost before the answer, the gateway may have taken the page, and
// the recipient's attempt fails instead.
//
// The gateway's verdict is the recipient's: success accepted; a refusal of the page
// the recipient's failed attempt with the call going on; a refused sender ID or
// security code ends the call as a refused log-on does; anything else (a system error,
// an HTTP error status, an unreadable reply, a network or certificate failure) is a
// lost line.
class CWctpPageCall final : public IPageCall, private ICarrierLinkOwner
{
public:
    explicit CWctpPageCall(PageCallRequest request);
    ~CWctpPageCall() override;

    std::optional<QString> Place(IPageCallOwner& owner) override;
    void SetPager(const QString& pagerId) override;
    void Begin() override;
    void SendPage() override;
    void Finish() override { }
    void OnTick() override { }
    QString TerminalLine() const override { return m_strTerminalLine; }
    QString LocalFault() const override { return m_strLocalFault; }
    void HangUp() override;
    void Close() override;

private:
    void OnLinkConnected() override;
    void OnLinkData(const QByteArray& bytes) override;
    void OnLinkLost(const QString& reason, bool connected) override;

    std::optional<QString> OpenLink();
    // The link's signal may be on the stack: it goes once control is back in the loop.
    void DropLink();
    void Answered();
    void Judge(const WctpReply& reply);
    void LoseLine(const QString& reason);
    void Tell(const QString& line);

    PageCallRequest m_request;
    IPageCallOwner* m_pOwner = nullptr;
    std::unique_ptr<CCarrierLink> m_pLink;
    CHttpResponseReader m_reader;
    QByteArray m_pending; // the request waiting for the connection
    QString m_strPager;
    QString m_strTerminalLine;
    QString m_strLocalFault;
    bool m_bLinkUp = false;
    bool m_bAwaiting = false; // a request went out and its answer has not come
    bool m_bCallConnected = false;
};
