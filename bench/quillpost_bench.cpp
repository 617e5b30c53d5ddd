// Measures what Quillpost's work costs at scale against floors measured in the same run
// on the same data, and checks that every measured operation did its work. Run by
// scripts/bench (a Release build): quillpost_bench [--runs N] [--out FOLDER] [--quick].
// Figure 10 needs a PostgreSQL server installed (scripts/deps installs it); the
// benchmark starts and stops a throwaway cluster of its own.

#include "BenchCarrier.h"
#include "BenchDelivery.h"
#include "BenchLines.h"
#include "BenchReport.h"
#include "BenchServer.h"
#include "BenchSnpp.h"
#include "BenchSqlite.h"

#include "ui/TreeRules.h"
#include "data/AddressBook.h"
#include "data/QuillpostDoc.h"
#include "dispatch/MessageQueue.h"
#include "dispatch/SendOrder.h"
#include "platform/db/DaoRecordset.h"
#include "platform/db/DatabaseSchema.h"
#include "ui/QuillpostTreeView.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>
#include <QTreeWidget>
#include <malloc.h>
#include <numeric>

namespace {

QTextStream& out()
{
    static QTextStream stream(stdout);
    return stream;
}

// Bytes the heap has handed out and not taken back.
std::int64_t heapInUse()
{
    const struct mallinfo2 info = mallinfo2();
    return std::int64_t(info.uordblks + info.hblkhd);
}


void checkTree(const QTreeWidget& tree, const BenchScale& scale)
{
    const int expected[] = { scale.users, scale.groups, scale.providers, scale.messages };
    if (tree.topLevelItemCount() != 4)
        BenchFail(QStringLiteral("The tree has %1 categories").arg(tree.topLevelItemCount()));
    for (int i = 0; i < 4; ++i)
        if (tree.topLevelItem(i)->childCount() != expected[i])
            BenchFail(QStringLiteral("Category %1 has %2 items, not %3")
                     .arg(i)
                     .arg(tree.topLevelItem(i)->childCount())
                     .arg(expected[i]));
}

// The texts of the tree's items, made before the floor is timed.
std::array<QStringList, 4> itemTexts(const CQuillpostDoc& doc)
{
    std::array<QStringList, 4> texts;
    for (const auto& user : doc.m_users)
        texts[0].append(user->m_name);
    for (const auto& group : doc.m_groups)
        texts[1].append(group->m_name);
    for (const auto& provider : doc.m_providers)
        texts[2].append(provider->m_serviceName);
    for (const auto& message : doc.m_messages)
        texts[3].append(TreeRules::ShortMessageText(message->m_text));
    return texts;
}

// The least a tree with these items costs: a bare tree widget, every category's items
// added in one call.
void fillBareTree(QTreeWidget& tree, const std::array<QStringList, 4>& texts)
{
    tree.clear();
    QList<QTreeWidgetItem*> categories;
    for (const QStringList& children : texts) {
        auto* category = new QTreeWidgetItem(QStringList(QStringLiteral("Category")));
        QList<QTreeWidgetItem*> items;
        items.reserve(children.size());
        for (const QString& text : children)
            items.append(new QTreeWidgetItem(QStringList(text)));
        category->addChildren(items);
        categories.append(category);
    }
    tree.insertTopLevelItems(0, categories);
}

struct Sizes
{
    double reloadMs = 0, reloadFloorMs = 0, refreshMs = 0, refreshFloorMs = 0;
    std::int64_t documentBytes = 0, treeBytes = 0;
};

// ReloadAll and RefreshTree on one database, each against its floor.
Sizes measureLoadAndTree(const QString& path, const BenchScale& scale, int runs)
{
    CDaoRecordset::SetDefaultDatabaseName(path);
    Sizes sizes;
    TableWalk walk;
    sizes.reloadFloorMs = MedianMs(runs, [&] { walk = StepThroughEveryRow(path); }, [&] {
        if (walk.rows != scale.users + scale.groups + scale.providers + scale.messageRows())
            BenchFail(QStringLiteral("The floor walked %1 rows").arg(walk.rows));
    });

    const std::int64_t heapBefore = heapInUse();
    CQuillpostDoc doc;
    sizes.reloadMs = MedianMs(runs, [&] { doc.ReloadAll(); }, [&] { CheckBenchDocument(doc, scale, QStringLiteral("the SQLite file")); });
    sizes.documentBytes = heapInUse() - heapBefore;

    const std::int64_t treeBefore = heapInUse();
    CQuillpostTreeView view(doc);
    view.EnsureFilled();
    sizes.treeBytes = heapInUse() - treeBefore;
    sizes.refreshMs = MedianMs(runs, [&] { view.RefreshTree(); }, [&] { checkTree(view, scale); });

    const auto texts = itemTexts(doc);
    QTreeWidget bare;
    sizes.refreshFloorMs
        = MedianMs(runs, [&] { fillBareTree(bare, texts); }, [&] { checkTree(bare, scale); });
    return sizes;
}

// The scheduler's run over the document: the look for a change, then the choice.
std::optional<SendOrder> schedulerRun(CQuillpostDoc& doc)
{
    doc.ReloadIfChanged();
    return ChooseDueSend(doc);
}

void measureScheduler(BenchReport& report, const QString& path, const BenchScale& scale,
    double reloadMs, int runs)
{
    CDaoRecordset::SetDefaultDatabaseName(path);
    CQuillpostDoc doc;
    doc.ReloadAll();
    CheckBenchDocument(doc, scale, QStringLiteral("the SQLite file"));
    std::optional<SendOrder> order;
    const double idleMs = MedianMs(runs * 4, [&] { order = schedulerRun(doc); }, [&] {
        if (order)
            BenchFail(QStringLiteral("The scheduler found something due in a queue with nothing due"));
    });
    report.add({ QStringLiteral("3a. RunScheduler, nothing due"), idleMs, reloadMs, 0.01,
        QStringLiteral("ReloadAll") });

    // The last message waits and is due: every message before it is walked first.
    CSendJob& last = *doc.m_messages.back();
    for (auto& entry : last.m_recipients)
        entry->m_status = StatusValue(MessageStatus::Waiting);
    last.m_status = StatusValue(MessageStatus::Waiting);
    const double dueMs = MedianMs(runs * 4, [&] { order = schedulerRun(doc); }, [&] {
        if (!order || order->job->m_messageId != last.m_messageId)
            BenchFail(QStringLiteral("The scheduler did not choose the last message"));
    });
    report.add({ QStringLiteral("3b. RunScheduler, the due entry last"), dueMs, reloadMs, 0.01,
        QStringLiteral("ReloadAll") });
    // The choice reads the provider's password from the file, which is never kept in
    // memory: that read on its own, to tell it from the walk.
    std::optional<ProviderDetails> provider;
    const double passwordMs = MedianMs(runs * 4, [&] { provider = ReadProvider(1); }, [&] {
        if (!provider)
            BenchFail(QStringLiteral("Provider 1 could not be read"));
    });
    report.note(QStringLiteral("   Of the scheduler's run with the due entry last, reading the "
                               "chosen provider's password from the file takes %1 ms.")
                    .arg(passwordMs, 0, 'f', 2));
}

void measureQueueing(BenchReport& report, const QString& path, int runs)
{
    CDaoRecordset::SetDefaultDatabaseName(path);
    std::vector<std::int32_t> recipients(1000);
    std::iota(recipients.begin(), recipients.end(), 1);
    const std::int64_t rowsBefore = CountRows(path, QStringLiteral("Messages"));
    std::optional<std::int32_t> messageId;
    const double queueMs = MedianMs(runs,
        [&] {
            messageId = QueueMessage(QStringLiteral("Fire alarm test at 14:00 in the east wing"),
                COleDateTime(2026, 12, 7, 14, 0, 0), recipients);
        },
        [&] {
            if (!messageId
                || CountRows(path, QStringLiteral("Messages WHERE MessageId = %1").arg(*messageId)) != 1000)
                BenchFail(QStringLiteral("QueueMessage did not write 1,000 rows"));
            DeleteMessageRows(*messageId);
        });
    const double floorMs = MedianMs(runs, [&] { InsertMessageRows(path, 1000); });
    if (CountRows(path, QStringLiteral("Messages")) != rowsBefore)
        BenchFail(QStringLiteral("The queued rows were not all deleted again"));
    report.add({ QStringLiteral("4. Queueing a message to 1,000 recipients"), queueMs, floorMs, 3,
        QStringLiteral("1,000 inserts, one transaction") });
}

// Peak resident memory of the desktop program started on `path`, once it has loaded,
// shown its window and gone idle, with the CPU seconds it spent getting there.
struct ProgramPeak
{
    double peakMb = 0;
    double cpuSeconds = 0;
};

double cpuSecondsOf(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    return (fields.value(11).toDouble() + fields.value(12).toDouble()) / double(sysconf(_SC_CLK_TCK));
}

double peakMegabytesOf(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return -1;
}

ProgramPeak measureProgram(const QString& program, const QString& path)
{
    QTemporaryDir settings;
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), settings.path());
    process.setProcessEnvironment(environment);
    process.start(program, { QStringLiteral("--db"), path });
    if (!process.waitForStarted(10000))
        BenchFail(QStringLiteral("%1 did not start").arg(program));
    // Idle: no CPU time spent for two seconds in a row, after at least some.
    ProgramPeak peak;
    int stillFor = 0;
    for (int waited = 0; waited < 120000 && stillFor < 8; waited += 250) {
        QThread::msleep(250);
        const double cpu = cpuSecondsOf(process.processId());
        if (cpu < 0)
            BenchFail(QStringLiteral("%1 ended early: %2").arg(program, QString::fromLocal8Bit(process.readAllStandardError())));
        stillFor = cpu > 0 && cpu == peak.cpuSeconds ? stillFor + 1 : 0;
        peak.cpuSeconds = cpu;
    }
    peak.peakMb = peakMegabytesOf(process.processId());
    process.kill();
    process.waitForFinished(5000);
    return peak;
}

// Delivery, once on the demo database and once on the large one with its tree.
void measureDeliveries(BenchReport& report, const QString& programs, const QString& work,
    const QString& largePath, int runs)
{
    const QString sim = QDir(programs).filePath(QStringLiteral("quillpost-sim"));
    const QString demoPath = QDir(work).filePath(QStringLiteral("demo.mdb"));
    if (QProcess::execute(QDir(programs).filePath(QStringLiteral("quillpost-db")),
            { QStringLiteral("init"), QStringLiteral("--demo"), demoPath })
        != 0)
        BenchFail(QStringLiteral("quillpost-db could not make the demo database"));
    const std::tuple<QString, QString, bool> cases[] = {
        { QStringLiteral("5a. Delivery, demo database"), demoPath, false },
        { QStringLiteral("5b. Delivery, large database and tree"), largePath, true },
    };
    for (const auto& [name, path, tree] : cases) {
        std::vector<Delivery> deliveries;
        for (int i = 0; i < std::max(1, runs / 2); ++i)
            deliveries.push_back(MeasureDelivery(path, sim, tree));
        std::sort(deliveries.begin(), deliveries.end(),
            [](const Delivery& a, const Delivery& b) { return a.ms < b.ms; });
        const Delivery& median = deliveries[deliveries.size() / 2];
        report.add({ name, median.ms, median.floorMs, 1.2,
            QStringLiteral("%1 line bytes at 9600 bit/s + pauses").arg(median.lineBytes) });
    }
}

struct Options
{
    int runs = 5;
    QString outFolder = QStringLiteral("bench-results");
    bool quick = false;
    bool delivery = true;
    bool profile = false;
    bool deliveryOnly = false;
    bool snppOnly = false;
    bool carriersOnly = false;
    bool linesOnly = false;
    bool serverOnly = false;
    // Figure 9's one line takes this many of the 200 messages; all of them take some 25 min.
    int oneLinePages = 20;
};

Options parseOptions(const QStringList& arguments)
{
    Options options;
    for (int i = 1; i < arguments.size(); ++i) {
        if (arguments[i] == QLatin1String("--runs") && i + 1 < arguments.size())
            options.runs = std::max(1, arguments[++i].toInt());
        else if (arguments[i] == QLatin1String("--out") && i + 1 < arguments.size())
            options.outFolder = arguments[++i];
        else if (arguments[i] == QLatin1String("--quick"))
            options.quick = true;
        else if (arguments[i] == QLatin1String("--no-delivery"))
            options.delivery = false;
        else if (arguments[i] == QLatin1String("--profile"))
            options.profile = true;
        else if (arguments[i] == QLatin1String("--delivery-only"))
            options.deliveryOnly = true;
        else if (arguments[i] == QLatin1String("--snpp-only"))
            options.snppOnly = true;
        else if (arguments[i] == QLatin1String("--carriers-only"))
            options.carriersOnly = true;
        else if (arguments[i] == QLatin1String("--lines-only"))
            options.linesOnly = true;
        else if (arguments[i] == QLatin1String("--server-only"))
            options.serverOnly = true;
        else if (arguments[i] == QLatin1String("--lines-full"))
            options.oneLinePages = 200;
        else
            BenchFail(QStringLiteral("Usage: quillpost_bench [--runs N] [--out FOLDER] [--quick] [--no-delivery] [--delivery-only] [--snpp-only] [--carriers-only] [--lines-only] [--lines-full] [--server-only] [--profile]"));
    }
    return options;
}

// One ReloadAll, RefreshTree, scheduler run and queueing of a 25,000-row database, each
// floor once, and nothing else: the run
// to give a profiler (valgrind --tool=callgrind quillpost_bench --profile).
void runOnceForProfiler()
{
    QTemporaryDir work;
    BenchScale scale;
    scale.messages = 25000 / scale.rowsPerMessage;
    const QString path = QDir(work.path()).filePath(QStringLiteral("profile.mdb"));
    MakeBenchDatabase(path, scale);
    StepThroughEveryRow(path);
    CDaoRecordset::SetDefaultDatabaseName(path);
    CQuillpostDoc doc;
    doc.ReloadAll();
    CheckBenchDocument(doc, scale, QStringLiteral("the SQLite file"));
    CQuillpostTreeView view(doc);
    view.RefreshTree();
    checkTree(view, scale);
    QTreeWidget bare;
    fillBareTree(bare, itemTexts(doc));
    checkTree(bare, scale);
    schedulerRun(doc);
    std::vector<std::int32_t> recipients(1000);
    std::iota(recipients.begin(), recipients.end(), 1);
    QueueMessage(QStringLiteral("Profiled"), COleDateTime(2026, 12, 7, 14, 0, 0), recipients);
    InsertMessageRows(path, 1000);
}

void runBenchmarks(const Options& options)
{
    if (options.profile) {
        runOnceForProfiler();
        return;
    }
    const QString programs = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("../bin"));
    QTemporaryDir work;
    BenchReport report;
    if (options.snppOnly) {
        MeasureSnpp(report, work.path());
        return;
    }
    const QString sim = QDir(programs).filePath(QStringLiteral("quillpost-sim"));
    if (options.carriersOnly) {
        MeasureCarriers(report, sim, work.path());
        return;
    }
    if (options.linesOnly) {
        MeasureLines(report, programs, work.path(), options.oneLinePages);
        return;
    }
    if (options.serverOnly) {
        MeasureServer(report, options.runs, true);
        return;
    }
    const BenchScale large;
    const QString largePath = QDir(work.path()).filePath(QStringLiteral("large.mdb"));
    MakeBenchDatabase(largePath, large);
    out() << "Large database: " << large.users << " users, " << large.groups << " groups, "
          << large.providers << " providers, " << large.messageRows() << " message rows in "
          << large.messages << " messages, " << QFileInfo(largePath).size() / 1048576 << " MB; median of "
          << options.runs << " runs\n";
    out().flush();
    if (options.deliveryOnly) {
        measureDeliveries(report, programs, work.path(), largePath, options.runs);
        return;
    }

    const Sizes sizes = measureLoadAndTree(largePath, large, options.runs);
    report.add({ QStringLiteral("1. ReloadAll"), sizes.reloadMs, sizes.reloadFloorMs, 2,
        QStringLiteral("SQLite C API walk") });
    report.add({ QStringLiteral("2. RefreshTree"), sizes.refreshMs, sizes.refreshFloorMs, 1.5,
        QStringLiteral("bare tree, bulk add") });
    measureScheduler(report, largePath, large, sizes.reloadMs, options.runs);
    measureQueueing(report, largePath, options.runs);
    MeasureSnpp(report, work.path());
    MeasureCarriers(report, sim, work.path());
    // Its dispatchers send for a minute or so; --no-delivery leaves them out, as it
    // leaves out the deliveries.
    MeasureServer(report, options.runs, options.delivery);

    // The scaling table: the same address book, ever more message rows.
    std::vector<ScalingRow> scaling;
    std::vector<std::pair<long long, Sizes>> heap;
    for (const int rows : options.quick ? std::vector<int> { 25000, 50000, 100000 }
                                        : std::vector<int> { 25000, 50000, 100000, 200000, 400000 }) {
        BenchScale scale;
        scale.messages = rows / scale.rowsPerMessage;
        const QString path = QDir(work.path()).filePath(QStringLiteral("scale-%1.mdb").arg(rows));
        MakeBenchDatabase(path, scale);
        const Sizes s = measureLoadAndTree(path, scale, std::max(1, options.runs / 2 + 1));
        scaling.push_back({ rows, s.reloadMs, s.reloadFloorMs, s.refreshMs, s.refreshFloorMs });
        heap.emplace_back(rows, s);
        QFile::remove(path);
        out() << "  scaling: " << rows << " message rows done\n";
        out().flush();
    }

    // What one more message row costs in memory, from the smallest to the largest size.
    const auto& [fewRows, few] = heap.front();
    const auto& [manyRows, many] = heap.back();
    const double perRowDocument = double(many.documentBytes - few.documentBytes) / double(manyRows - fewRows);
    const double perRowTree = double(many.treeBytes - few.treeBytes) / double(manyRows - fewRows);

    const ProgramPeak empty = measureProgram(QDir(programs).filePath(QStringLiteral("quillpost")),
        [&] {
            const QString path = QDir(work.path()).filePath(QStringLiteral("empty.mdb"));
            CreateQuillpostDatabase(path);
            return path;
        }());
    const ProgramPeak full = measureProgram(QDir(programs).filePath(QStringLiteral("quillpost")), largePath);
    report.note(QStringLiteral("6. Peak resident memory of quillpost on the large database: %1 MB "
                               "(target < 150 MB; %2 MB on an empty one), %3 s of CPU to load "
                               "and show it (%4 s on the empty one).")
                    .arg(full.peakMb, 0, 'f', 1)
                    .arg(empty.peakMb, 0, 'f', 1)
                    .arg(full.cpuSeconds, 0, 'f', 2)
                    .arg(empty.cpuSeconds, 0, 'f', 2));
    report.note(QStringLiteral("   One message row costs %1 bytes of resident memory in the program; "
                               "on the heap %2 bytes in the document and %3 bytes in the tree "
                               "(one item per %4-row message).")
                    .arg((full.peakMb - empty.peakMb) * 1048576.0 / double(large.messageRows()), 0, 'f', 0)
                    .arg(perRowDocument, 0, 'f', 0)
                    .arg(perRowTree, 0, 'f', 0)
                    .arg(large.rowsPerMessage));

    if (options.delivery) {
        measureDeliveries(report, programs, work.path(), largePath, options.runs);
        MeasureLines(report, programs, work.path(), options.oneLinePages);
    }

    QDir().mkpath(options.outFolder);
    const QString png = QDir(options.outFolder).filePath(QStringLiteral("scaling.png"));
    const QString table = ScalingTable(scaling);
    out() << "\nScaling (10,000 users, 500 groups, 50 providers):\n" << table;
    if (!PlotScaling(scaling, png))
        BenchFail(QStringLiteral("Cannot write %1").arg(png));
    QFile results(QDir(options.outFolder).filePath(QStringLiteral("results.md")));
    if (results.open(QIODevice::WriteOnly | QIODevice::Truncate))
        results.write((report.markdown() + QStringLiteral("\n") + table).toUtf8());
    out() << "Plot: " << png << "\nTable: " << results.fileName() << '\n'
          << (report.allMet() ? "Every target met.\n" : "Some targets MISSED (see above).\n");
}

} // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // The delivery's modem settings go to a folder of the benchmark's own, and so do the
    // outcomes a dispatcher on a database server keeps in the user's data folder.
    QTemporaryDir settings;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(settings.path()));
    qputenv("XDG_DATA_HOME", QFile::encodeName(QDir(settings.path()).filePath(QStringLiteral("data"))));
    QApplication application(argc, argv);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
    try {
        runBenchmarks(parseOptions(application.arguments()));
    } catch (const std::exception& failure) {
        QTextStream(stderr) << "quillpost_bench: " << failure.what() << '\n';
        return 1;
    }
    return 0;
}
