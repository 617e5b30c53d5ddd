#pragma once

#include "ProgramPath.h"

#include <QProcess>
#include <QString>
#include <QStringList>

#include <csignal>

// One of the project's programs started for a test, its output (both channels)
// collected as it comes; killed if still running when the object goes. The headless
// dispatcher's periods are shortened (QUILLPOST_PERIODS) unless `periods` is empty.
class RunningProgram
{
public:
    static constexpr int kProgramMs = 60000; // generous: CI runs under ASan on a loaded machine

    RunningProgram(const QString& name, const QStringList& arguments,
        const QString& periods = QStringLiteral("300,100,0"))
    {
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        if (!periods.isEmpty())
            environment.insert(QStringLiteral("QUILLPOST_PERIODS"), periods);
        m_process.setProcessEnvironment(environment);
        QObject::connect(&m_process, &QProcess::readyRead,
            [this] { m_output += QString::fromUtf8(m_process.readAll()); });
        m_process.start(ProgramPath(name), arguments);
    }
    ~RunningProgram()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished();
        }
    }
    RunningProgram(const RunningProgram&) = delete;
    RunningProgram& operator=(const RunningProgram&) = delete;

    bool said(const QString& text) { return output().contains(text); }
    const QString& output()
    {
        while (m_process.waitForReadyRead(50))
            ;
        return m_output;
    }
    void signal(int number) { ::kill(pid_t(m_process.processId()), number); }
    // The exit status once the program has ended by itself; -1 when it did not.
    int finish()
    {
        if (!hasEnded() && !m_process.waitForFinished(kProgramMs))
            return -1;
        m_output += QString::fromUtf8(m_process.readAll());
        return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
    }
    qint64 pid() const { return m_process.processId(); }
    bool hasEnded() const { return m_process.state() == QProcess::NotRunning; }

private:
    QProcess m_process;
    QString m_output;
};
