// The simulator's own checks that the program's send tests cannot make: its command line,
// its refusals to start, the lines of its log file, and the line rate it keeps. How it
// answers on the line is run against the program in the send tests, which fail when the
// far end misbehaves.

#include "PagingSimulator.h"
#include "SimCommandLine.h"
#include "SimLog.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

using namespace quillpost::sim;

class TestSimProgram : public QObject
{
    Q_OBJECT

private slots:
    void commandLine_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QString>("expected"); // what was understood, or the complaint
        const auto row = [](const char* name, const QStringList& arguments, const char* expected,
                             bool valid = false) {
            QTest::newRow(name) << arguments << valid << QString(expected);
        };
        // The pty options and the counts are taken as the program's server tests start it.
        row("tcp with flags and a repeated value",
            { "--tcp", "65535", "--no-message-sequences", "--busy", "--unknown-pager", "999",
                "--unknown-pager", "5", "--wctp" },
            "port=65535 seq=0 busy=1 unknown=999,5 wctp=1", true);
        row("WCTP without tcp", { "--wctp" }, "--wctp goes with --tcp only, and not with --snpp.");
        row("both modes", { "--pty", "--tcp", "1" }, "Choose either --pty or --tcp, not both.");
        row("link with tcp", { "--tcp", "1", "--link", "x" }, "--link goes with --pty only.");
        row("port 65536", { "--tcp", "65536" }, "--tcp needs a port number from 0 to 65535.");
        // Every count is checked against its own least value alike (--chunk-pause's is 0).
        row("count below 1", { "--nak-block", "0" },
            "--nak-block needs a whole number of at least 1.");
        row("unknown option", { "--frobnicate" }, "Unknown option 'frobnicate'.");
        row("stray argument", { "extra" }, "Unexpected argument: extra");
    }

    void commandLine()
    {
        QFETCH(QStringList, arguments);
        QFETCH(bool, valid);
        QFETCH(QString, expected);
        SimInvocation invocation;
        QCOMPARE(parseSimArguments(QStringList { "quillpost-sim" } + arguments, invocation), valid);
        const QString understood = QString::asprintf("port=%d seq=%d busy=%d unknown=%s wctp=%d",
            invocation.tcpPort, invocation.config.messageSequences, invocation.config.faults.busy,
            invocation.config.unknownPagerIds.join(',').constData(), invocation.config.wctp);
        QCOMPARE(valid ? understood : invocation.message, expected);
    }

    // A stale link from an earlier run is replaced and goes with the simulator; anything
    // else in the way stops the start, with a message naming it.
    void startRefusals()
    {
        QTemporaryDir dir;
        const QString link = dir.filePath("modem");
        QVERIFY(QFile::link("/nonexistent", link));
        PagingSimulator sim;
        QVERIFY(sim.startPty(link));
        sim.stop();
        QVERIFY(!QFileInfo(link).isSymLink());

        QVERIFY(QFile(link).open(QIODevice::WriteOnly));
        PagingSimulator refused;
        QVERIFY(!refused.startPty(link));
        QVERIFY(refused.errorString().contains(link));
        QVERIFY(sim.startTcp());
        QVERIFY(!refused.startTcp(sim.tcpPort()));
        QVERIFY(refused.errorString().contains(QString::number(sim.tcpPort())));

        SimConfig config;
        config.logPath = "/nonexistent-folder/pages.jsonl";
        PagingSimulator unlogged(config);
        QVERIFY(!unlogged.startTcp());
        QVERIFY(unlogged.errorString().contains(config.logPath));
    }

    // One JSON object a line, with the fields the operators' tools read; each \u00XX in a
    // text stands for one byte, so Latin-1 gives every byte back.
    void logLines()
    {
        QByteArray everyByte;
        for (int value = 0; value < 256; ++value)
            everyByte += static_cast<char>(value);
        const QString at = "2026-01-02T03:04:05.678Z";
        const QDateTime time = QDateTime::fromString(at, Qt::ISODateWithMs);
        const QByteArray log = pageLogLine({ "12\"3", everyByte, "17;", 3, time, false })
            + callEndLogLine({ 3, CallEnd::PageLimit, time, 40, 12 });
        const QList<QByteArray> lines = log.split('\n');
        QCOMPARE(lines.size(), 3);
        QCOMPARE(QJsonDocument::fromJson(lines[0]).object(),
            QJsonObject({ { "event", "page" }, { "call", 3 }, { "time", at }, { "protocol", "tap" },
                { "pagerId", "12\"3" }, { "text", QString::fromLatin1(everyByte) },
                { "checksum", "17;" }, { "acknowledged", false } }));
        QCOMPARE(QJsonDocument::fromJson(lines[1]).object(),
            QJsonObject({ { "event", "call-end" }, { "call", 3 }, { "time", at },
                { "how", "page-limit" }, { "received", 40 }, { "sent", 12 } }));
    }

    // Nothing reaches the caller sooner than the line could carry it, the caller's bytes
    // first: at ten bits a byte, 481 bytes in and 3 back take 504 ms at 9600 bps. The call's
    // end counts every byte both ways.
    void repliesTakeTheirLineTime()
    {
        SimConfig config;
        config.lineRateBps = 9600;
        PagingSimulator sim(config);
        QVERIFY(sim.startTcp());
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, sim.tcpPort());
        QVERIFY(socket.waitForConnected(10000));
        QElapsedTimer clock;
        clock.start();
        socket.write(QByteArray(480, 'x') + "\r");
        QByteArray got;
        while (got.size() < 3 && socket.waitForReadyRead(30000))
            got += socket.readAll();
        QCOMPARE_GE(clock.elapsed(), 504);
        QCOMPARE(got, "ID=");
        socket.disconnectFromHost();
        QVERIFY(sim.waitForCallEnds(1, 30000));
        QCOMPARE(sim.callEnds().value(0).received, 481);
        QCOMPARE(sim.callEnds().value(0).sent, 3);
    }
};

QTEST_GUILESS_MAIN(TestSimProgram)
#include "test_sim_program.moc"
