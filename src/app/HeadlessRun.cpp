#include "app/HeadlessRun.h"

#include "app/AppSettings.h"
#include "app/ProgramOptions.h"
#include "dispatch/HeadlessDispatcher.h"
#include "modem/ModemList.h"
#include "platform/StopSignals.h"
#include "platform/db/DaoRecordset.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QTextStream>

#include <algorithm>
#include <cstdio>

namespace {

struct Periods
{
    int schedulerMs = CSendScheduler::kIntervalMs;
    SendTiming send;
};

void logLine(const QString& text)
{
    static QTextStream out(stdout);
    out << QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss ")) << text
        << '\n';
    out.flush();
}

#ifdef QUILLPOST_TEST_PERIODS
Periods readPeriods()
{
    Periods periods;
    const QStringList parts = qEnvironmentVariable("QUILLPOST_PERIODS").split(QLatin1Char(','));
    if (parts.size() == 3 || parts.size() == 4) {
        periods.schedulerMs = qMax(1, parts[0].toInt());
        periods.send.tickMs = qMax(1, parts[1].toInt());
        periods.send.closePauseMs = qMax(0, parts[2].toInt());
        // Short ticks stand for a short time-out: the time the ticks would take unhurried.
        periods.send.timeoutMs = int(std::min<qint64>(
            qint64(CSendSession::kTimeoutTicks) * periods.send.tickMs, periods.send.timeoutMs));
    }
    if (parts.size() == 4)
        periods.send.hangUpPauseMs = qMax(0, parts[3].toInt());
    return periods;
}
#else
// Nothing in the environment may shorten a send's time-out in the program as shipped.
Periods readPeriods()
{
    if (qEnvironmentVariableIsSet("QUILLPOST_PERIODS"))
        logLine(QStringLiteral("QUILLPOST_PERIODS is ignored: only test builds honour it."));
    return {};
}
#endif

} // namespace

int RunHeadlessDispatcher(const ProgramOptions& options)
{
    const QString database = CDaoRecordset::DefaultDatabasePath();
    if (!QFileInfo(database).isFile()) {
        std::fprintf(stderr, "quillpost: there is no database at %s\n", qPrintable(database));
        return 1;
    }
    const QString modemName
        = options.modemName.isEmpty() ? AppSettings::ReadModemName() : options.modemName;
    CModemList modems([modemName] { return modemName; });
    const Periods periods = readPeriods();
    CHeadlessDispatcher dispatcher(modems, logLine, periods.schedulerMs, periods.send);
    CStopSignals stopSignals;

    QObject::connect(&stopSignals, &CStopSignals::StopRequested, &dispatcher,
        [&dispatcher](int signalNumber) {
            logLine(QStringLiteral("Signal %1 received.").arg(signalNumber));
            dispatcher.Stop();
        });
    QObject::connect(&dispatcher, &CHeadlessDispatcher::Stopped, qApp, &QCoreApplication::quit,
        Qt::QueuedConnection);

    logLine(QStringLiteral("Dispatching from %1 with the modem \"%2\".").arg(database, modemName));
    if (modemName.isEmpty())
        logLine(QStringLiteral("No modem is chosen: choose one in the desktop program (System, "
                               "Select Modem) or name it with --modem. Sends will fail."));
    dispatcher.Start();
    return QCoreApplication::exec();
}
