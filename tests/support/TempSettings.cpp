#include "TempSettings.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QtGlobal>

TempSettings::TempSettings()
    : m_previousConfigHome(qgetenv("XDG_CONFIG_HOME"))
    , m_hadConfigHome(qEnvironmentVariableIsSet("XDG_CONFIG_HOME"))
{
    Q_ASSERT(m_dir.isValid());
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_dir.path()));
    // QSettings keeps the folder it found first; point it here explicitly as well.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_dir.path());
}

TempSettings::~TempSettings()
{
    if (m_hadConfigHome)
        qputenv("XDG_CONFIG_HOME", m_previousConfigHome);
    else
        qunsetenv("XDG_CONFIG_HOME");
}

QString TempSettings::folder() const
{
    return m_dir.path();
}

QString TempSettings::filePath() const
{
    return QDir(m_dir.path()).filePath("Northmoor/Quillpost.conf");
}

void TempSettings::makeUnwritable()
{
    // A plain file where the settings folder should be: nothing can be created below
    // it, whoever runs the test (root included).
    const QString blocker = QDir(m_dir.path()).filePath("blocked");
    QFile file(blocker);
    if (file.open(QIODevice::WriteOnly))
        file.close();
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, blocker);
}
