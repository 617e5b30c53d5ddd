#include "PostgresCluster.h"

#include <QCollator>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <algorithm>
#include <csignal>
#include <pwd.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
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

// In /tmp whatever TMPDIR says: the server's user must reach the folder through its
// parents, and the socket's path must stay within the 107 bytes a Unix socket takes.
PostgresCluster::PostgresCluster()
    : m_dir(QStringLiteral("/tmp/quillpost-cluster-XXXXXX"))
    , m_binFolder(ServerBinFolder())
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

QString PostgresCluster::LogPath() const
{
    return m_dir.filePath(QStringLiteral("server.log"));
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
    if (!StartServer())
        return false;
    m_running = true;
    return CreateDatabase(QStringLiteral("quillpost"));
}

// The server runs in the foreground as this program's child (pg_ctl would detach it),
// the parent-death signal set in the child just before it becomes the server: however
// this program ends, the kernel kills the server, and its sessions end with it. The
// user is changed by system calls of the child's own, not by the C library's, which
// would try to reach the threads of this program; and before the signal is set, since a
// change of user clears it.
bool PostgresCluster::StartServer()
{
    uid_t uid = 0;
    gid_t gid = 0;
    if (const passwd* user = m_asPostgres ? getpwnam("postgres") : nullptr) {
        uid = user->pw_uid;
        gid = user->pw_gid;
    }
    const bool asPostgres = m_asPostgres;
    const pid_t parent = getpid();
    const qint64 logStart = QFileInfo(LogPath()).size(); // what this start says follows
    m_server = std::make_unique<QProcess>();
    m_server->setProcessChannelMode(QProcess::MergedChannels);
    m_server->setStandardOutputFile(LogPath(), QIODevice::Append);
    m_server->setWorkingDirectory(m_dir.path());
    m_server->setChildProcessModifier([asPostgres, uid, gid, parent] {
        if (asPostgres
            && (syscall(SYS_setgroups, 0, nullptr) != 0
                || syscall(SYS_setresgid, gid, gid, gid) != 0
                || syscall(SYS_setresuid, uid, uid, uid) != 0))
            _exit(126);
        // A parent gone before the signal was set would never send it.
        if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != parent)
            _exit(126);
    });
    // Only the socket in the cluster's own folder; fsync off, as nothing must survive
    // the machine.
    m_server->start(m_binFolder + QStringLiteral("/postgres"),
        { QStringLiteral("-D"), DataFolder(), QStringLiteral("-c"),
            QStringLiteral("listen_addresses="), QStringLiteral("-c"),
            QStringLiteral("unix_socket_directories=") + SocketFolder(), QStringLiteral("-c"),
            QStringLiteral("fsync=off"), QStringLiteral("-c"),
            QStringLiteral("full_page_writes=off") });
    const QDeadlineTimer deadline(kProgramMs);
    m_server->waitForStarted(kProgramMs);
    while (m_server->state() == QProcess::Running && !deadline.hasExpired()) {
        if (Run(QStringLiteral("pg_isready"),
                { QStringLiteral("--host=") + SocketFolder(),
                    QStringLiteral("--username=quillpost"), QStringLiteral("--quiet") }))
            return true;
        m_server->waitForFinished(50); // a server that cannot start ends meanwhile
    }
    QFile log(LogPath());
    if (log.open(QIODevice::ReadOnly))
        log.seek(logStart);
    m_error = QStringLiteral("The server did not start: %1")
                  .arg(QString::fromLocal8Bit(log.read(4000)).trimmed());
    m_server.reset(); // kills it, when it is still running
    return false;
}

void PostgresCluster::Stop()
{
    if (!m_running)
        return;
    m_running = false;
    // SIGQUIT is the server's immediate shutdown: every session ends at once, as in a
    // crash, and the next start recovers.
    ::kill(pid_t(m_server->processId()), SIGQUIT);
    if (!m_server->waitForFinished(kProgramMs)) {
        m_server->kill();
        m_server->waitForFinished(kProgramMs);
    }
    m_server.reset();
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
