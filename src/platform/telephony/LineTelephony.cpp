#include "platform/telephony/Telephony.h"

namespace {

// Placeholder until the line devices are written: a machine without lines.
class CNoLines final : public ITelephony
{
public:
    std::int32_t lineInitialize(LineAppHandle*, LineCallbackProc, std::uint32_t*) override { return LINEERR_NODEVICE; }
    std::int32_t lineNegotiateAPIVersion(LineAppHandle, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t*, LineExtensionId*) override { return LINEERR_NODEVICE; }
    std::int32_t lineGetDevCaps(LineAppHandle, std::uint32_t, std::uint32_t, std::uint32_t, LineDevCaps*) override { return LINEERR_NODEVICE; }
    std::int32_t lineOpen(LineAppHandle, std::uint32_t, LineHandle*, std::uint32_t, std::uint32_t, std::uintptr_t, std::uint32_t, std::uint32_t, const LineCallParams*) override { return LINEERR_NODEVICE; }
    std::int32_t lineMakeCall(LineHandle, CallHandle*, const QString&, std::uint32_t, const LineCallParams*) override { return LINEERR_NODEVICE; }
    std::int32_t lineGetID(LineHandle, std::uint32_t, CallHandle, std::uint32_t, std::unique_ptr<CCommPort>*, const QString&) override { return LINEERR_NODEVICE; }
    std::int32_t lineAnswer(CallHandle) override { return LINEERR_NODEVICE; }
    std::int32_t lineDrop(CallHandle) override { return LINEERR_NODEVICE; }
    std::int32_t lineDeallocateCall(CallHandle) override { return LINEERR_NODEVICE; }
    std::int32_t lineClose(LineHandle) override { return LINEERR_NODEVICE; }
    std::int32_t lineShutdown(LineAppHandle) override { return LINEERR_NODEVICE; }
};

} // namespace

std::unique_ptr<ITelephony> CreateLineTelephony()
{
    return std::make_unique<CNoLines>();
}
