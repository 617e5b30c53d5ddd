#include "carrier/CarrierCalls.h"

#include "carrier/SnppCall.h"
#include "carrier/TapNetCall.h"
#include "carrier/WctpPageCall.h"

namespace {

QString WayInName(const CarrierAddress& address)
{
    switch (address.kind) {
    case CarrierKind::TapTcp:
        return QStringLiteral("TAP over TCP (tap://)");
    case CarrierKind::TapTls:
        return QStringLiteral("TAP over TLS (taps://)");
    case CarrierKind::Snpp:
        return QStringLiteral("SNPP (snpp://)");
    case CarrierKind::SnppTls:
        return QStringLiteral("SNPP over TLS (snpps://)");
    case CarrierKind::Wctp:
        return address.tls ? QStringLiteral("WCTP (https://)") : QStringLiteral("WCTP (http://)");
    case CarrierKind::Dialled:
        break;
    }
    return QStringLiteral("a line device");
}

} // namespace

std::unique_ptr<IPageCall> MakeCarrierCall(const PageCallRequest& request)
{
    const CarrierAddress& address = request.address;
    if (!address.IsUsable())
        return std::make_unique<CUnplaceablePageCall>(
            CarrierAddressFault(request.providerName, address.refusal));
    switch (address.kind) {
    case CarrierKind::TapTcp:
    case CarrierKind::TapTls:
        return std::make_unique<CTapNetCall>(request);
    case CarrierKind::Snpp:
    case CarrierKind::SnppTls:
        return std::make_unique<CSnppCall>(request);
    case CarrierKind::Wctp:
        return std::make_unique<CWctpPageCall>(request);
    default:
        break;
    }
    return std::make_unique<CUnplaceablePageCall>(
        QStringLiteral("%1 is reached through %2, which this program cannot use yet")
            .arg(request.providerName, WayInName(address)));
}
