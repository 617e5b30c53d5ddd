#pragma once

#include "gateway/SnppServer.h"

#include <QString>
#include <optional>

// The SNPP gateway's settings: QSettings("Northmoor", "Quillpost"), group "Gateway":
// "SNPP Listen" ([ADDR:]PORT; empty or absent: no gateway), "SNPP Allowed Networks"
// (a list of ADDR/BITS; default 127.0.0.0/8 and ::1), "SNPP Credentials" (a file of
// logins; absent: none asked), "SNPP Connections" (default 32) and "SNPP Idle Seconds"
// (default 120).
struct SnppSettings
{
    std::optional<SnppServerConfig> config; // none: the gateway is off
    QString error; // why the settings cannot be used
};

// `listen` from the command line wins over the setting.
SnppSettings ReadSnppSettings(const QString& listen);
