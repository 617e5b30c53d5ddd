#pragma once

#include <QString>
#include <QTemporaryDir>

// A temporary settings folder for the object's lifetime: XDG_CONFIG_HOME and the
// native user-scope settings path both point at it, so that nothing a test stores
// reaches the operator's real settings. Make one before the first QSettings is used.
class TempSettings
{
public:
    TempSettings();
    ~TempSettings();

    TempSettings(const TempSettings&) = delete;
    TempSettings& operator=(const TempSettings&) = delete;

    QString folder() const;
    // The file QSettings("Northmoor", "Quillpost") reads and writes.
    QString filePath() const;
    // Points the settings at a place that cannot be written.
    void makeUnwritable();

private:
    QTemporaryDir m_dir;
    QByteArray m_previousConfigHome;
    bool m_hadConfigHome = false;
};
