#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>

class QProcess;

// A throwaway PostgreSQL cluster for one test: initdb into a temporary folder, the server
// listening only on a Unix socket in that folder, with trust authentication for the
// superuser "quillpost" and a database "quillpost". When the tests run as root (as CI
// does), the server runs as the unprivileged "postgres" user the package makes, since
// PostgreSQL refuses to run as root. Stop() (or the destructor) ends it at once. The
// server is this program's own child, killed by the kernel when the program ends in any
// way (an abort, SIGKILL), so that no test leaves one running.
class PostgresCluster
{
public:
    PostgresCluster();
    ~PostgresCluster();
    PostgresCluster(const PostgresCluster&) = delete;
    PostgresCluster& operator=(const PostgresCluster&) = delete;

    // Makes and starts the cluster; false, with Error() saying why, when it cannot.
    bool Start();
    // Ends the server at once (a crash, to the clients); Start() brings it back.
    void Stop();
    bool IsRunning() const { return m_running; }
    QString Error() const { return m_error; }

    // The folder of the server's socket, as a client names the host.
    QString SocketFolder() const;
    // The database as the programs take it: postgresql://quillpost@/quillpost?host=FOLDER
    QString Url(const QString& database = QStringLiteral("quillpost")) const;
    // Creates another database in the cluster; false on failure.
    bool CreateDatabase(const QString& name);

private:
    // Runs one of the server's programs (as the server's user when this is root).
    bool Run(const QString& program, const QStringList& arguments, QString* output = nullptr);
    // Starts the server and waits until it takes connections.
    bool StartServer();
    QString DataFolder() const;
    QString LogPath() const;

    QTemporaryDir m_dir;
    QString m_binFolder;
    QString m_error;
    std::unique_ptr<QProcess> m_server;
    bool m_asPostgres = false;
    bool m_initialised = false;
    bool m_running = false;
};
