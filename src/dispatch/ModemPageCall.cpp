#include "dispatch/ModemPageCall.h"

#include "carrier/CarrierCalls.h"
#include "tap/TapText.h"
#include "modem/LineProbe.h"
#include "modem/ModemList.h"
#include "platform/telephony/DialString.h"
#include "platform/telephony/LineFaults.h"

CModemPageCall::CModemPageCall(CModemList& modems, PageCallRequest request)
    : m_modems(modems)
    , m_request(std::move(request))
{
    m_connection.SetHangUpPause(m_request.hangUpPauseMs);
    m_connection.Exchange().SetMessageText(ToTapText(m_request.message));
    m_connection.Exchange().SetPassword(ToTapText(m_request.password));
}

std::optional<QString> CModemPageCall::Place(IPageCallOwner& owner)
{
    // Discovery starts the line interface afresh and finds the modem by its stored name.
    // It tells the operator nothing: the send's host decides what to say of the fault.
    int device = CModemList::kNoDevice;
    if (std::optional<QString> fault = NamedLineFault(m_modems, m_request.lineName, device))
        return fault;
    const std::int32_t opened = m_connection.OpenLine(m_modems, device, &owner);
    if (opened < 0)
        return LineOpenFault(
            m_modems.DeviceName(device), QString::fromLatin1(LineErrorName(opened)));
    QString number = m_request.accessNumber;
    if (m_connection.LineDialsNumbers()) {
        // The provider's stored number is at fault, so nothing is dialled and nobody's
        // attempt counts; a character such as ";" would give the modem commands of its own.
        const DialString dial = ReadDialString(m_request.accessNumber);
        if (dial.dialled.isEmpty())
            return AccessNumberFault(m_request.providerName, dial);
        number = dial.dialled;
    }
    const std::int32_t placed = m_connection.PlaceCall(number);
    if (placed < 0)
        return LineCallFault(
            m_modems.DeviceName(device), QString::fromLatin1(LineErrorName(placed)));
    return std::nullopt;
}

void CModemPageCall::SetPager(const QString& pagerId)
{
    m_connection.Exchange().SetPagerId(ToTapText(pagerId));
}

void CModemPageCall::Begin()
{
    // A line that cannot take the provider's framing (a pseudo-terminal cannot carry
    // parity) keeps the framing it has; the terminal decides whether that will do.
    m_connection.SetPortFraming(m_request.parity, m_request.dataBits, m_request.stopBits);
    m_connection.Exchange().SendWakeUp();
}

void CModemPageCall::SendPage()
{
    m_connection.Exchange().SendBlock();
}

void CModemPageCall::Finish()
{
    m_connection.Exchange().SendLogout();
}

void CModemPageCall::OnTick()
{
    m_connection.Exchange().OnTick();
}

QString CModemPageCall::TerminalLine() const
{
    return m_connection.Exchange().TerminalLine();
}

QString CModemPageCall::LocalFault() const
{
    return m_connection.LocalFault();
}

void CModemPageCall::HangUp()
{
    m_connection.HangUp();
}

void CModemPageCall::Close()
{
    m_connection.CloseLine();
}

PageCallFactory SendPageCalls(CModemList& modems)
{
    return [&modems](const PageCallRequest& request) -> std::unique_ptr<IPageCall> {
        if (request.address.NeedsLineDevice())
            return std::make_unique<CModemPageCall>(modems, request);
        return MakeCarrierCall(request);
    };
}
