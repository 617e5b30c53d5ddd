#include "modem/ModemList.h"

#include "modem/ModemConnection.h"
#include "platform/LogCategories.h"
#include "platform/Prompt.h"

#include <utility>

namespace {

constexpr std::uint32_t kLowestVersion = 0;
constexpr std::uint32_t kHighestVersion = 0xFFFFFFFF;

// A name slot holds at most 99 characters; a longer name is cut, never in the
// middle of a character.
QString FitNameSlot(const QString& name)
{
    QString fitted = name.left(CModemList::kMaxNameLength);
    if (fitted.size() < name.size() && !fitted.isEmpty() && fitted.back().isHighSurrogate())
        fitted.chop(1);
    return fitted;
}

} // namespace

CModemList::CModemList(std::function<QString()> storedModemName, ITelephony* telephony)
    : m_storedModemName(std::move(storedModemName))
    , m_pTelephony(telephony)
{
}

CModemList::~CModemList()
{
    ShutdownUntakenHandle();
}

LineAppHandle CModemList::TakeAppHandle()
{
    m_bHandleTaken = true;
    return m_hLineApp;
}

void CModemList::ShutdownUntakenHandle()
{
    if (m_hLineApp != 0 && !m_bHandleTaken && m_pTelephony)
        m_pTelephony->lineShutdown(m_hLineApp);
    m_hLineApp = 0;
    m_bHandleTaken = false;
}

ITelephony& CModemList::Telephony()
{
    // The machine's line devices are set up at first use, when the program's event
    // loop exists to deliver their events.
    if (!m_pTelephony) {
        m_ownTelephony = CreateLineTelephony();
        m_pTelephony = m_ownTelephony.get();
    }
    return *m_pTelephony;
}

QString CModemList::DeviceName(int device) const
{
    return IsValidDevice(device) ? m_deviceNames[static_cast<std::size_t>(device)] : QString();
}

std::int32_t CModemList::NegotiateVersion(std::uint32_t device)
{
    return Telephony().lineNegotiateAPIVersion(
        m_hLineApp, device, kLowestVersion, kHighestVersion, &m_dwApiVersion, &m_extensionId);
}

std::int32_t CModemList::Discover()
{
    // A discovery that fails selects nothing, rather than the device of the last one.
    m_nDeviceCount = 0;
    m_nSelectedDevice = kNoDevice;
    ShutdownUntakenHandle();
    std::uint32_t count = 0;
    const std::int32_t initialised
        = Telephony().lineInitialize(&m_hLineApp, &CModemConnection::LineCallback, &count);
    if (initialised < 0) {
        ReportDiscoveryFailure("Cannot start the line interface", initialised);
        return initialised;
    }
    if (count > static_cast<std::uint32_t>(kMaxDevices)) {
        if (!m_bQuiet)
            Prompt::current().inform(QStringLiteral("There are too many modems on the system, the "
                                                    "number available will be restricted"));
        count = kMaxDevices;
    }
    m_nDeviceCount = static_cast<int>(count);
    const std::int32_t negotiated = NegotiateVersion(0);
    if (negotiated < 0) {
        ReportDiscoveryFailure("Cannot agree the interface version of line device 0", negotiated);
        return negotiated;
    }
    m_nLastFailure = 0;
    Enumerate();
    return 0;
}

void CModemList::ReportDiscoveryFailure(const char* step, std::int32_t result)
{
    // Said once until the reason changes: a dispatcher discovers before every send, and
    // a machine without line devices would otherwise say so every few seconds.
    if (std::exchange(m_nLastFailure, result) != result)
        qCWarning(
            lcLine, "%s: %s (0x%08x)", step, LineErrorName(result), static_cast<unsigned>(result));
}

std::int32_t CModemList::DiscoverQuietly()
{
    m_bQuiet = true;
    const std::int32_t result = Discover();
    m_bQuiet = false;
    return result;
}

int CModemList::DeviceNamed(const QString& name) const
{
    if (name.isEmpty())
        return kNoDevice;
    for (int device = 0; device < m_nDeviceCount; ++device) {
        if (m_deviceNames[static_cast<std::size_t>(device)] == name)
            return device;
    }
    return kNoDevice;
}

void CModemList::Enumerate()
{
    const QString storedName = m_storedModemName ? m_storedModemName() : QString();
    m_nSelectedDevice = kNoDevice;
    for (int device = 0; device < m_nDeviceCount; ++device) {
        QString& slot = m_deviceNames[static_cast<std::size_t>(device)];
        NegotiateVersion(static_cast<std::uint32_t>(device));
        LineDevCaps caps;
        if (Telephony().lineGetDevCaps(
                m_hLineApp, static_cast<std::uint32_t>(device), m_dwApiVersion, 0, &caps)
            < 0) {
            slot = QStringLiteral("Unknown %1").arg(device);
            continue;
        }
        slot = FitNameSlot(caps.lineName);
        // An empty stored name never matches, even a device that reports no name.
        if (!storedName.isEmpty() && slot == storedName)
            m_nSelectedDevice = device;
    }
    if (m_nSelectedDevice == kNoDevice && !m_bQuiet)
        Prompt::current().inform(
            QStringLiteral("Cannot find designated modem - please set the modem name"));
}
