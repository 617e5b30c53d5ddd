#include "BenchLines.h"

#include "BenchReport.h"
#include "BenchSqlite.h"
#include "data/MessageStatus.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSet>
#include <QSettings>
#include <QTextStream>
#include <algorithm>
#include <memory>
#include <vector>

namespace {

constexpr int kProviders = 4;
constexpr int kPages = 200;
constexpr int kManyLines = 4;
constexpr double kTargetSpeedUp = 3.5;
constexpr int kLineBitsPerSecond = 1200;
constexpr int kBitsPerByte = 10; // start bit, eight data bits, stop bit
constexpr int kWaitMs = 10000;
constexpr int kPollMs = 50;
// Far more than a call, its hang-up and the wait for the next scheduler run take: a run
// that needs this much per call of its busiest line has hung.
constexpr qint64 kGuardMsPerCall = 30000;
constexpr int kFirstProvider = 1000;
constexpr int kFirstUser = 100000;
constexpr int kFirstRow = 1000000;
constexpr int kFirstPager = 8000001;

QTextStream& out()
{
    static QTextStream stream(stdout);
    return stream;
}

QByteArray pagerOf(int row)
{
    return QByteArray::number(kFirstPager + row);
}

QByteArray textOf(int row)
{
    return "Theatre " + QByteArray::number(row + 1)
        + " ready for the next case, please come now: Sent using Quillpost";
}

QString sentRows()
{
    return QStringLiteral("Messages WHERE ID >= %1 AND Status = %2")
        .arg(kFirstRow)
        .arg(StatusValue(MessageStatus::Sent));
}

// The last lines of a program's console, to say why a run failed.
QString tailOf(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("(no output)");
    const QList<QByteArray> lines = file.readAll().trimmed().split('\n');
    return QString::fromLocal8Bit(lines.mid(std::max<qsizetype>(0, lines.size() - 15)).join('\n'));
}

// A small address book, four providers reached through the modem, and `pages` waiting
// one-recipient messages in turn to each provider, each to a user (pager) of its own.
void makeLinesDatabase(const QString& path, int pages)
{
    MakeBenchDatabase(path, BenchScale { 20, 2, 2, 10, 1 });
    QString sql = QStringLiteral("BEGIN;");
    for (int p = 0; p < kProviders; ++p)
        sql += QStringLiteral("INSERT INTO ServiceProviders (ID, ServiceName, AccessNumber, "
                              "BaudRate, StopBits, Parity, DataBits, TAPType, UseAsDefault, "
                              "Password) VALUES (%1, 'Bench Paging %2', '555100%2', %3, 1, 0, 8, "
                              "1, 0, '');")
                   .arg(kFirstProvider + p)
                   .arg(p + 1)
                   .arg(kLineBitsPerSecond);
    for (int i = 0; i < pages; ++i) {
        sql += QStringLiteral("INSERT INTO Users (ID, Name, TelephoneNumber, PreferredProvider, "
                              "Group1, Group2, Group3, Group4, Group5, Group6, Group7, Group8, "
                              "Group9, Group10) VALUES (%1, 'On call %2', '%3', %4, 0, 0, 0, 0, "
                              "0, 0, 0, 0, 0, 0);")
                   .arg(kFirstUser + i)
                   .arg(i + 1)
                   .arg(QString::fromLatin1(pagerOf(i)))
                   .arg(kFirstProvider + i % kProviders);
        sql += QStringLiteral("INSERT INTO Messages (ID, Recipient, MessageCount, MessageId, Text, "
                              "Status, SendTime, RequestTime, RequiredSendTime, Retries) VALUES "
                              "(%1, %2, 1, %1, '%3', %4, '2026-01-01 00:00:00', "
                              "'2026-01-01 00:00:00', '2026-01-01 00:00:00', 0);")
                   .arg(kFirstRow + i)
                   .arg(kFirstUser + i)
                   .arg(QString::fromLatin1(textOf(i)))
                   .arg(StatusValue(MessageStatus::Waiting));
    }
    ExecuteSql(path, sql + QStringLiteral("COMMIT;"));
}

// One send line: the simulator as a Hayes modem on a pseudo-terminal of its own at
// 1200 bit/s. Its console goes to a file, so that it never waits for a reader during a
// long run. Stopped when this goes.
class LineSimulator
{
public:
    LineSimulator(const QString& program, const QString& folder, int number)
        : m_name(QStringLiteral("Bench line %1").arg(number))
        , m_link(QDir(folder).filePath(QStringLiteral("line-%1").arg(number)))
        , m_log(m_link + QStringLiteral("-pages.jsonl"))
    {
        const QString console = m_link + QStringLiteral("-console.txt");
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.setStandardOutputFile(console);
        m_process.start(program,
            { QStringLiteral("--pty"), QStringLiteral("--link"), m_link,
                QStringLiteral("--line-rate"), QString::number(kLineBitsPerSecond),
                QStringLiteral("--log"), m_log });
        if (!m_process.waitForStarted(kWaitMs))
            BenchFail(QStringLiteral("The simulator %1 did not start").arg(program));
        // It prints the port's name once the modem listens.
        QElapsedTimer waited;
        waited.start();
        while (!tailOf(console).contains(QLatin1Char('/'))) {
            if (m_process.waitForFinished(kPollMs) || waited.elapsed() > kWaitMs)
                BenchFail(
                    QStringLiteral("The simulator did not open its port: %1").arg(tailOf(console)));
        }
    }
    ~LineSimulator() { stop(); }
    LineSimulator(const LineSimulator&) = delete;
    LineSimulator& operator=(const LineSimulator&) = delete;

    QString name() const { return m_name; }
    QString link() const { return m_link; }
    // Ends the simulator, so that its log is complete.
    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(5000))
            m_process.kill();
        m_process.waitForFinished(5000);
    }
    // The pages the terminal took (pager ID, text) and the bytes of every call on the
    // line, from its log.
    void readLog(QList<std::pair<QByteArray, QByteArray>>& pages, long long& bytes) const
    {
        const SimLog log = ReadSimLog(m_log);
        for (const SimLogPage& page : log.pages)
            pages.append({ page.pagerId, page.text });
        bytes += log.bytes;
    }

private:
    QString m_name;
    QString m_link;
    QString m_log;
    QProcess m_process;
};

using Lines = std::vector<std::unique_ptr<LineSimulator>>;

// The dispatcher's settings: every line a Hayes modem on its simulator's pseudo-terminal.
void writeLineSettings(const QString& settingsFolder, const Lines& lines)
{
    QSettings settings(QDir(settingsFolder).filePath(QStringLiteral("Northmoor/Quillpost.conf")),
        QSettings::IniFormat);
    settings.beginWriteArray(QStringLiteral("Lines"));
    for (std::size_t i = 0; i < lines.size(); ++i) {
        settings.setArrayIndex(int(i));
        settings.setValue(QStringLiteral("name"), lines[i]->name());
        settings.setValue(QStringLiteral("type"), QStringLiteral("hayes"));
        settings.setValue(QStringLiteral("device"), lines[i]->link());
    }
    settings.endArray();
    settings.sync();
    if (settings.status() != QSettings::NoError)
        BenchFail(QStringLiteral("Cannot write the lines' settings in %1").arg(settingsFolder));
}

struct LineRun
{
    double ms = 0; // from the dispatcher's start to the last row recorded as sent
    long long busiestLineBytes = 0; // both directions, on the line that carried most
};

// Every row was sent exactly once: all say sent, and the simulators' logs together hold
// one page for each row's pager ID and text and nothing else.
void checkDelivered(const QString& path, const Lines& lines, int pages, LineRun& run)
{
    const long long sent = CountRows(path, sentRows());
    if (sent != pages)
        BenchFail(QStringLiteral("%1 of %2 rows are recorded as sent").arg(sent).arg(pages));
    QSet<std::pair<QByteArray, QByteArray>> unpaged;
    for (int i = 0; i < pages; ++i)
        unpaged.insert({ pagerOf(i), textOf(i) });
    int taken = 0;
    for (const auto& line : lines) {
        QList<std::pair<QByteArray, QByteArray>> logged;
        long long bytes = 0;
        line->readLog(logged, bytes);
        run.busiestLineBytes = std::max(run.busiestLineBytes, bytes);
        taken += int(logged.size());
        for (const auto& [pager, text] : logged)
            if (!unpaged.remove({ pager, text }))
                BenchFail(QStringLiteral("Pager %1 was paged \"%2\" twice, or for no row")
                         .arg(QString::fromLatin1(pager), QString::fromLatin1(text)));
    }
    if (taken != pages || !unpaged.isEmpty())
        BenchFail(QStringLiteral("The simulators took %1 pages for %2 rows; %3 rows got none")
                 .arg(taken)
                 .arg(pages)
                 .arg(unpaged.size()));
}

// `pages` messages delivered by `quillpost --headless` through `lineCount` lines,
// timed until the last row is recorded as sent, then checked.
LineRun deliverThroughLines(
    const QString& programs, const QString& folder, int lineCount, int pages)
{
    QDir().mkpath(folder);
    const QString path = QDir(folder).filePath(QStringLiteral("lines.mdb"));
    makeLinesDatabase(path, pages);
    Lines lines;
    QStringList arguments { QStringLiteral("--headless"), QStringLiteral("--db"), path };
    for (int i = 1; i <= lineCount; ++i) {
        lines.push_back(std::make_unique<LineSimulator>(
            QDir(programs).filePath(QStringLiteral("quillpost-sim")), folder, i));
        arguments << QStringLiteral("--modem") << lines.back()->name();
    }
    const QString settingsFolder = QDir(folder).filePath(QStringLiteral("settings"));
    writeLineSettings(settingsFolder, lines);

    QProcess dispatcher;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), settingsFolder);
    // The program's own periods and this run's database, whatever the shell holds.
    environment.remove(QStringLiteral("QUILLPOST_PERIODS"));
    environment.remove(QStringLiteral("QUILLPOST_DB"));
    dispatcher.setProcessEnvironment(environment);
    const QString console = QDir(folder).filePath(QStringLiteral("dispatcher.log"));
    dispatcher.setProcessChannelMode(QProcess::MergedChannels);
    dispatcher.setStandardOutputFile(console);

    const qint64 guardMs = kGuardMsPerCall * ((pages + lineCount - 1) / lineCount);
    LineRun run;
    QElapsedTimer timer;
    timer.start();
    dispatcher.start(QDir(programs).filePath(QStringLiteral("quillpost")), arguments);
    if (!dispatcher.waitForStarted(kWaitMs))
        BenchFail(QStringLiteral("quillpost --headless did not start"));
    // The rows are what count, so the database is polled rather than the log read.
    long long sent = 0;
    while ((sent = CountRows(path, sentRows())) < pages) {
        if (dispatcher.waitForFinished(kPollMs))
            BenchFail(QStringLiteral("quillpost --headless ended early:\n%1").arg(tailOf(console)));
        if (timer.elapsed() > guardMs)
            BenchFail(QStringLiteral("%1 of %2 rows sent through %3 line(s) after %4 s:\n%5")
                     .arg(sent)
                     .arg(pages)
                     .arg(lineCount)
                     .arg(timer.elapsed() / 1000)
                     .arg(tailOf(console)));
    }
    run.ms = timer.nsecsElapsed() / 1e6;
    dispatcher.terminate();
    if (!dispatcher.waitForFinished(30000)) {
        dispatcher.kill();
        BenchFail(QStringLiteral("quillpost --headless did not stop:\n%1").arg(tailOf(console)));
    }
    for (const auto& line : lines)
        line->stop();
    checkDelivered(path, lines, pages, run);
    return run;
}

} // namespace

void MeasureLines(
    BenchReport& report, const QString& programs, const QString& workFolder, int oneLinePages)
{
    const bool scaled = oneLinePages != kPages;
    out() << "9. " << kPages << " one-recipient messages to " << kProviders
          << " providers at 1200 bit/s: first " << oneLinePages << " through one line"
          << (scaled ? " (fewer, to keep the run short; its time for 200 is scaled)" : "")
          << "...\n";
    out().flush();
    const LineRun one = deliverThroughLines(
        programs, QDir(workFolder).filePath(QStringLiteral("one-line")), 1, oneLinePages);
    const double perMessageMs = one.ms / oneLinePages;
    const double oneFor200Ms = perMessageMs * kPages;
    out() << QStringLiteral("   one line: %1 messages in %2 s, %3 s a message; expect about %4 s "
                            "for 200 through %5 lines...\n")
                 .arg(oneLinePages)
                 .arg(one.ms / 1000, 0, 'f', 1)
                 .arg(perMessageMs / 1000, 0, 'f', 2)
                 .arg(oneFor200Ms / kManyLines / 1000, 0, 'f', 0)
                 .arg(kManyLines);
    out().flush();
    const LineRun four = deliverThroughLines(
        programs, QDir(workFolder).filePath(QStringLiteral("four-lines")), kManyLines, kPages);

    const double speedUp = oneFor200Ms / four.ms;
    report.add({ QStringLiteral("9. 200 messages, four send lines"), four.ms, oneFor200Ms,
        1.0 / kTargetSpeedUp,
        scaled ? QStringLiteral("one line, %1 messages x %2")
                     .arg(oneLinePages)
                     .arg(double(kPages) / oneLinePages)
               : QStringLiteral("one line") });
    report.note(
        QStringLiteral("   Four lines: 200 messages in %1 s; one line: %2 messages in %3 s%4. "
                       "Four lines are %5 times as fast as one (target at least %6): %7. "
                       "The busiest of the four lines carried %8 bytes, %9 s of line time "
                       "at 1200 bit/s.")
            .arg(four.ms / 1000, 0, 'f', 1)
            .arg(oneLinePages)
            .arg(one.ms / 1000, 0, 'f', 1)
            .arg(scaled ? QStringLiteral(", %1 s for 200 scaled").arg(oneFor200Ms / 1000, 0, 'f', 0)
                        : QString())
            .arg(speedUp, 0, 'f', 2)
            .arg(kTargetSpeedUp, 0, 'f', 1)
            .arg(speedUp >= kTargetSpeedUp ? QStringLiteral("met") : QStringLiteral("MISSED"))
            .arg(four.busiestLineBytes)
            .arg(double(four.busiestLineBytes) * kBitsPerByte / kLineBitsPerSecond, 0, 'f', 0));
}
