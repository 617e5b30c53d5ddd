#pragma once

#include "platform/telephony/Telephony.h"

#include <QString>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>

// The line devices of the machine and which of them carries the stored modem name.
// Discovery runs afresh each time the modem dialog opens and each time a send starts,
// so a modem that is added, removed or renamed is seen at the next send.
class CModemList
{
public:
    static constexpr int kMaxDevices = 30;
    static constexpr int kMaxNameLength = 99;
    static constexpr int kNoDevice = -2;

    // storedModemName is asked for the operator's chosen modem at every discovery.
    // Without a backend the machine's own line devices are used; a given backend is
    // not owned and must outlive the list.
    explicit CModemList(std::function<QString()> storedModemName, ITelephony* telephony = nullptr);
    ~CModemList();
    CModemList(const CModemList&) = delete;
    CModemList& operator=(const CModemList&) = delete;

    // Initialises the line interface and finds the devices; 0, or the negative error
    // that stopped it.
    std::int32_t Discover();
    // The same, telling the operator nothing (no modem of the stored name, too many
    // devices): a send's host says what kept it from its line.
    std::int32_t DiscoverQuietly();
    // The per-device part of discovery: names and the selected device.
    void Enumerate();

    // The modem name the operator chose; empty when none is chosen.
    QString StoredModemName() const { return m_storedModemName(); }
    int DeviceCount() const { return m_nDeviceCount; }
    bool IsValidDevice(int device) const { return device >= 0 && device < m_nDeviceCount; }
    // The name slot of a device (empty outside the listed devices).
    QString DeviceName(int device) const;
    // The device whose name equals the stored modem name, kNoDevice when none does.
    int SelectedDevice() const { return m_nSelectedDevice; }
    // The listed device of that name, kNoDevice when none is (an empty name never is).
    int DeviceNamed(const QString& name) const;

    ITelephony& Telephony();
    LineAppHandle AppHandle() const { return m_hLineApp; }
    // A connection that opened its line under the current application handle takes it
    // over and shuts it down itself when it closes. Any handle not taken is shut down
    // by the next discovery or by the list's destruction, so a program that sends all
    // day holds one handle plus one per open line.
    LineAppHandle TakeAppHandle();
    std::uint32_t ApiVersion() const { return m_dwApiVersion; }
    // Negotiates the interface version for a device and keeps it as the current one.
    std::int32_t NegotiateVersion(std::uint32_t device);

private:
    void ReportDiscoveryFailure(const char* step, std::int32_t result);
    void ShutdownUntakenHandle();

    std::function<QString()> m_storedModemName;
    std::unique_ptr<ITelephony> m_ownTelephony;
    ITelephony* m_pTelephony = nullptr;
    LineAppHandle m_hLineApp = 0;
    bool m_bHandleTaken = false;
    int m_nDeviceCount = 0;
    std::uint32_t m_dwApiVersion = 0;
    LineExtensionId m_extensionId;
    std::array<QString, kMaxDevices> m_deviceNames;
    int m_nSelectedDevice = kNoDevice;
    bool m_bQuiet = false;
    // The result of the last discovery that failed; 0 after one that succeeded.
    std::int32_t m_nLastFailure = 0;
};
