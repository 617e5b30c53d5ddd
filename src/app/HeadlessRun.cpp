#include "app/HeadlessRun.h"

#include "app/AppSettings.h"
#include "app/ProgramOptions.h"
#include "dispatch/HeadlessDispatcher.h"
#include "gateway/MetricsPage.h"
#include "gateway/MetricsServer.h"
#include "gateway/SnppSettings.h"
#include "modem/ModemList.h"
#include "platform/StopSignals.h"
#include "platform/db/DaoRecordset.h"
#include "platform/db/DatabaseLocation.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QSettings>
#include <QTextStream>

#include <algorithm>
#include <memory>
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

// The metrics page is watched from outside the paging system: when it cannot be served
// the dispatcher sends all the same, and the watcher learns of it from its failed scrape.
void serveMetrics(CMetricsServer& server, const QString& commandLine)
{
    const QString text = !commandLine.isEmpty()
        ? commandLine
        : QSettings(QStringLiteral("Northmoor"), QStringLiteral("Quillpost"))
              .value(QStringLiteral("Gateway/Metrics Listen"))
              .toString();
    if (text.isEmpty())
        return;
    QString error;
    const std::optional<ListenAddress> where = ParseListenAddress(text, error);
    if (!where)
        logLine(QStringLiteral("Not serving the metrics page: %1").arg(error));
    else if (!server.Listen(*where))
        logLine(QStringLiteral("Not serving the metrics page on %1: %2")
                    .arg(where->ToText(), server.ErrorString()));
    else
        logLine(
            QStringLiteral("Serving the metrics page at http://%1/metrics").arg(where->ToText()));
}

// Pages from other hosts are what the gateway is for: one asked for and not served is a
// failure to start, not a line in the log.
std::unique_ptr<CSnppServer> serveSnpp(
    const QString& commandLine, GatewayCounters& counters, QString& error)
{
    const SnppSettings settings = ReadSnppSettings(commandLine);
    error = settings.error;
    if (!error.isEmpty() || !settings.config)
        return nullptr;
    auto server = std::make_unique<CSnppServer>(*settings.config, counters, logLine);
    if (error = server->Listen(); !error.isEmpty())
        return nullptr;
    logLine(QStringLiteral("Accepting SNPP pages on %1 port %2.")
                .arg(settings.config->address.toString())
                .arg(server->Port()));
    return server;
}

} // namespace

int RunHeadlessDispatcher(const ProgramOptions& options)
{
    const QString database = CDaoRecordset::DefaultDatabasePath();
    if (!IsPostgresUri(database) && !QFileInfo(database).isFile()) {
        std::fprintf(stderr, "quillpost: there is no database at %s\n", qPrintable(database));
        return 1;
    }
    const QStringList named = options.modemNames;
    const QString modemName = named.isEmpty() ? AppSettings::ReadModemName() : named.first();
    CModemList modems([modemName] { return modemName; });
    const Periods periods = readPeriods();
    CHeadlessDispatcher dispatcher(modems, logLine, periods.schedulerMs, periods.send, [named] {
        SendCapacity capacity = AppSettings::ReadSendCapacity();
        if (!named.isEmpty())
            capacity.lines = named;
        return capacity;
    });
    GatewayCounters gatewayCounters;
    CMetricsServer metrics([&dispatcher, &gatewayCounters] {
        return RenderMetricsPage(CollectDispatchFigures(dispatcher.Counters()), gatewayCounters);
    });
    QString snppError;
    const std::unique_ptr<CSnppServer> snpp
        = serveSnpp(options.snppListen, gatewayCounters, snppError);
    if (!snppError.isEmpty()) {
        std::fprintf(stderr, "quillpost: no SNPP gateway: %s\n", qPrintable(snppError));
        return 1;
    }
    CStopSignals stopSignals;

    QObject::connect(&stopSignals, &CStopSignals::StopRequested, &dispatcher,
        [&dispatcher, &snpp](int signalNumber) {
            logLine(QStringLiteral("Signal %1 received.").arg(signalNumber));
            if (snpp)
                snpp->Shutdown();
            dispatcher.Stop();
        });
    QObject::connect(&dispatcher, &CHeadlessDispatcher::Stopped, qApp, &QCoreApplication::quit,
        Qt::QueuedConnection);

    const QStringList lines = named.isEmpty() ? AppSettings::ReadSendLines() : named;
    if (lines.size() > 1)
        logLine(QStringLiteral("Dispatching from %1 through the lines \"%2\".")
                    .arg(DisplayDatabaseName(database), lines.join(QStringLiteral("\", \""))));
    else
        logLine(QStringLiteral("Dispatching from %1 with the modem \"%2\".")
                    .arg(DisplayDatabaseName(database), lines.value(0, modemName)));
    if (lines.isEmpty() && modemName.isEmpty())
        logLine(QStringLiteral("No modem is chosen: providers reached by URL are paged all the "
                               "same, but messages to providers that are dialled wait until a "
                               "modem is chosen in the desktop program (System, Select Modem) "
                               "or named with --modem."));
    serveMetrics(metrics, options.metricsListen);
    dispatcher.Start();
    return QCoreApplication::exec();
}
