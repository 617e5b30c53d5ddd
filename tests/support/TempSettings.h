#pragma once

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

// A temporary settings folder for the object's lifetime: XDG_CONFIG_HOME and the
// native user-scope settings path both point at it, so that nothing a test stores
// reaches the operator's real settings. XDG_DATA_HOME points below it too, for the
// outcomes a dispatcher on a database server keeps in the user's data folder. Make one
// before the first QSettings is used.
class TempSettings
{
public:
    TempSettings()
        : m_previous(qgetenv("XDG_CONFIG_HOME"))
        , m_hadPrevious(qEnvironmentVariableIsSet("XDG_CONFIG_HOME"))
        , m_previousData(qgetenv("XDG_DATA_HOME"))
        , m_hadPreviousData(qEnvironmentVariableIsSet("XDG_DATA_HOME"))
    {
        Q_ASSERT(m_dir.isValid());
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_dir.path()));
        qputenv("XDG_DATA_HOME", QFile::encodeName(QDir(m_dir.path()).filePath("data")));
        // QSettings keeps the folder it found first; point it here explicitly as well.
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_dir.path());
    }
    ~TempSettings()
    {
        if (m_hadPrevious)
            qputenv("XDG_CONFIG_HOME", m_previous);
        else
            qunsetenv("XDG_CONFIG_HOME");
        if (m_hadPreviousData)
            qputenv("XDG_DATA_HOME", m_previousData);
        else
            qunsetenv("XDG_DATA_HOME");
    }
    TempSettings(const TempSettings&) = delete;
    TempSettings& operator=(const TempSettings&) = delete;

    QString folder() const { return m_dir.path(); }
    // The file QSettings("Northmoor", "Quillpost") reads and writes.
    QString filePath() const { return QDir(m_dir.path()).filePath("Northmoor/Quillpost.conf"); }
    // Points the settings below a plain file, where nothing can be created whoever runs
    // the test (root included).
    void makeUnwritable()
    {
        const QString blocker = QDir(m_dir.path()).filePath("blocked");
        QFile(blocker).open(QIODevice::WriteOnly);
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, blocker);
    }

private:
    QTemporaryDir m_dir;
    QByteArray m_previous;
    bool m_hadPrevious = false;
    QByteArray m_previousData;
    bool m_hadPreviousData = false;
};
