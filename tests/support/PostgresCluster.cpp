#include "PostgresCluster.h"

#include <QCollator>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <algorithm>
#include <pwd.h>
#include <unistd.h>

namespace {

constexpr int kProgramMs = 120000;

// The newest installed server's programs: /usr/lib/postgresql/VERSION/bin on Debian.
QString ServerBinFolder()
{
    QStringList versions = QDir(QStringLiteral("/usr/lib/postgresql"))
                               .entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    QCollator numeric;
    numeric.setNumericMode(true);
    std::sort(versions.begin(), versions.end(), numeric);
    for (auto version = versions.crbegin(); version != versions.crend(); ++version) {
        const QString bin = QStringLiteral("/usr/lib/postgresql/%1/bin").arg(*version);
        if (QFile::exists(bin + QStringLiteral("/initdb")))
            return bin;
    }
    return {};
}

// Hands the folder to the server's user, who must reach it through the temporary
// folder's parents as well.
bool GiveToPostgres(const QString& folder)
{
    const passwd* user = getpwnam("postgres");
    if (!user)
        return false;
    QFile::setPermissions(folder,
        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
            | QFileDevice::ExeGroup | QFileDevice::ExeOther);
    return chown(QFile::encodeName(folder).constData(), user->pw_uid, user->pw_gid) == 0;
}

} // namespace

PostgresCluster::PostgresCluster()
    : m_binFolder(ServerBinFolder())
    , m_asPostgres(geteuid() == 0)
{
}

PostgresCluster::~PostgresCluster()
{
    Stop();
}

QString PostgresCluster::DataFolder() const
{
    return m_dir.filePath(QStringLiteral("data"));
}

QString PostgresCluster::SocketFolder() const
{
    return m_dir.path();
}

QString PostgresCluster::Url(const QString& database) const
{
    return QStringLiteral("postgresql://quillpost@/%1?host=%2").arg(database, SocketFolder());
}

bool PostgresCluster::Run(const QString& program, const QStringList& arguments, QString* output)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    const QString path = m_binFolder + QLatin1Char('/') + program;
    if (m_asPostgres)
        process.start(QStringLiteral("runuser"),
            QStringList { QStringLiteral("-u"), QStringLiteral("postgres"), QStringLiteral("--"),
                path }
                + arguments);
    else
        process.start(path, arguments);
    const bool finished = process.waitForFinished(kProgramMs);
    const QString said = QString::fromLocal8Bit(process.readAll());
    if (output)
        *output = said;
    if (finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0)
        return true;
    m_error = QStringLiteral("%1 failed: %2").arg(program, said.trimmed());
    return false;
}

bool PostgresCluster::Start()
{
    if (m_running)
        return true;
    if (m_binFolder.isEmpty()) {
        m_error = QStringLiteral("No PostgreSQL server is installed (scripts/deps installs it)");
        return false;
    }
    if (!m_dir.isValid() || (m_asPostgres && !GiveToPostgres(m_dir.path()))) {
        m_error = QStringLiteral("Cannot make the cluster's folder %1").arg(m_dir.path());
        return false;
    }
    if (!m_initialised
        && !Run(QStringLiteral("initdb"),
            { QStringLiteral("--pgdata=") + DataFolder(), QStringLiteral("--username=quillpost"),
                QStringLiteral("--auth=trust"), QStringLiteral("--encoding=UTF8"),
                QStringLiteral("--locale=C"), QStringLiteral("--no-sync") }))
        return false;
    m_initialised = true;
    // Only the socket in the cluster's own folder; fsync off, as nothing must survive
    // the machine.
    const QString options = QStringLiteral("-c listen_addresses='' -c unix_socket_directories='%1' "
                                           "-c fsync=off -c full_page_writes=off")
                                .arg(SocketFolder());
    if (!Run(QStringLiteral("pg_ctl"),
            { QStringLiteral("--pgdata=") + DataFolder(), QStringLiteral("--wait"),
                QStringLiteral("--log=") + m_dir.filePath(QStringLiteral("server.log")),
                QStringLiteral("--options=") + options, QStringLiteral("start") }))
        return false;
    m_running = true;
    return CreateDatabase(QStringLiteral("quillpost"));
}

void PostgresCluster::Stop()
{
    if (!m_running)
        return;
    m_running = false;
    Run(QStringLiteral("pg_ctl"),
        { QStringLiteral("--pgdata=") + DataFolder(), QStringLiteral("--mode=immediate"),
            QStringLiteral("--wait"), QStringLiteral("stop") });
}

bool PostgresCluster::CreateDatabase(const QString& name)
{
    QString output;
    if (Run(QStringLiteral("createdb"),
            { QStringLiteral("--host=") + SocketFolder(), QStringLiteral("--username=quillpost"),
                name },
            &output))
        return true;
    // A restarted cluster keeps the databases it had.
    return output.contains(QStringLiteral("already exists"));
}
