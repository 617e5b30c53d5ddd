// Sends to providers reached by URL, end to end against the in-process simulator: TAP
// over TCP and TLS, SNPP over TCP and TLS, what each recipient's row and the send log
// keep, and certificates the program must not trust.
#include "FakeTelephony.h"
#include "OneSend.h"
#include "PagingSimulator.h"
#include "TempSettings.h"

#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using quillpost::sim::PagingSimulator;
using quillpost::sim::SimConfig;

namespace {

const QString kText = QStringLiteral("Boiler 2 pressure alarm");
const QString kDue = QStringLiteral("2026-01-01 12:00:00");

// How one send goes, and what it leaves.
struct Case
{
    QString scheme; // tap, taps, snpp, snpps
    SimConfig sim {};
    QString login {}; // the URL's user part
    QString password {}; // the provider's stored password
    bool trusted = true; // the test authority is named in [Network] caCertificates
    QStringList rows {}; // Status,Retries of 1001 and 1002 afterwards
    QStringList log {}; // PagerId,Outcome,TerminalLine
    QByteArrayList pages {}; // the pager IDs the simulator took
    QString shown {}; // a line the sending window must have shown, if any
};

bool RunOpenssl(const QString& dir, const QStringList& arguments)
{
    QProcess openssl;
    openssl.setWorkingDirectory(dir);
    openssl.start(QStringLiteral("openssl"), arguments);
    return openssl.waitForFinished(30000) && openssl.exitStatus() == QProcess::NormalExit
        && openssl.exitCode() == 0;
}

} // namespace

Q_DECLARE_METATYPE(Case)

class TestCarrierCalls : public QObject
{
    Q_OBJECT

private slots:
    // A private authority and a server certificate for 127.0.0.1 signed by it.
    void initTestCase()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("openssl")).isEmpty())
            QFAIL("openssl is needed to make the test certificates (scripts/deps)");
        QVERIFY(m_certs.isValid());
        const QString dir = m_certs.path();
        QFile ext(dir + "/ext.cnf");
        QVERIFY(ext.open(QIODevice::WriteOnly));
        ext.write("subjectAltName=DNS:localhost,IP:127.0.0.1\nbasicConstraints=CA:FALSE\n");
        ext.close();
        QVERIFY(RunOpenssl(dir,
            { "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out",
                "ca.pem", "-days", "2", "-subj", "/CN=Quillpost Test CA" }));
        QVERIFY(RunOpenssl(dir,
            { "req", "-newkey", "rsa:2048", "-nodes", "-keyout", "server.key", "-out", "server.csr",
                "-subj", "/CN=Quillpost Test Server" }));
        QVERIFY(RunOpenssl(dir,
            { "x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key",
                "-CAcreateserial", "-out", "server.pem", "-days", "2", "-sha256", "-extfile",
                "ext.cnf" }));
    }

    void send_data()
    {
        QTest::addColumn<Case>("c");
        const QStringList both { "1,0", "1,0" };
        const QByteArrayList twoPages { "1001", "1002" };
        for (const char* scheme : { "tap", "taps", "snpp", "snpps" }) {
            const QString accepted = QString(scheme).startsWith("tap")
                ? QStringLiteral("211 Page(s) Sent")
                : QStringLiteral("250 Message sent successfully");
            QTest::addRow("%s: two recipients on one call", scheme) << Case { scheme, {}, {}, {},
                true, both, { "1001,1," + accepted, "1002,1," + accepted }, twoPages };
        }
        SimConfig unknown;
        unknown.unknownPagerIds = { "1001" };
        QTest::newRow("snpp: first pager refused, second still paged")
            << Case { "snpp", unknown, {}, {}, true, { "0,1", "1,0" },
                   { "1001,0,550 Error, invalid pager ID", "1002,1,250 Message sent successfully" },
                   { "1002" } };
        SimConfig sendRefused;
        sendRefused.faults.nakBlock = 1;
        QTest::newRow("snpp: first SEND refused, second still paged") << Case { "snpp", sendRefused,
            {}, {}, true, { "0,1", "1,0" },
            { "1001,0,554 Error, failed to send the page", "1002,1,250 Message sent successfully" },
            { "1002" } };
        SimConfig drop;
        drop.faults.dropLineAfterBlock = 1;
        for (const char* scheme : { "tap", "snpp" })
            QTest::addRow("%s: line dropped after the first page", scheme)
                << Case { scheme, drop, {}, {}, true, { "1,0", "0,1" }, {}, { "1001" } };
        SimConfig secret;
        secret.password = "s3cret";
        secret.snppLogin = "alice";
        QTest::newRow("snpp: login and password taken")
            << Case { "snpp", secret, "alice", "s3cret", true, both, {}, twoPages };
        QTest::newRow("snpp: wrong password ends the call") << Case { "snpp", secret, "alice",
            "guess", true, { "0,1", "0,0" }, { "1001,0,550 Invalid login or password" } };
        QTest::newRow("snpp: wrong login ends the call") << Case { "snpp", secret, "bob", "s3cret",
            true, { "0,1", "0,0" }, { "1001,0,550 Invalid login or password" } };
        for (const char* scheme : { "taps", "snpps" })
            QTest::addRow("%s: certificate of an unknown authority refused", scheme)
                << Case { scheme, {}, {}, {}, false, { "0,1", "0,0" }, {}, {},
                       "CN=Quillpost Test Server issued by CN=Quillpost Test CA" };
    }

    void send()
    {
        QFETCH(Case, c);
        TempSettings settings;
        TempDatabase db;
        SimConfig config = c.sim;
        config.snpp = c.scheme.startsWith("snpp");
        if (c.scheme.endsWith('s')) {
            config.tlsCertificatePath = m_certs.filePath("server.pem");
            config.tlsKeyPath = m_certs.filePath("server.key");
        }
        PagingSimulator sim(config);
        QVERIFY2(sim.startTcp(), qPrintable(sim.errorString()));
        if (c.trusted)
            QSettings(QStringLiteral("Northmoor"), QStringLiteral("Quillpost"))
                .setValue(QStringLiteral("Network/caCertificates"), m_certs.filePath("ca.pem"));
        const QString user = c.login.isEmpty() ? QString() : c.login + '@';
        QueueMessage(db, c.scheme + "://" + user + "127.0.0.1:" + QString::number(sim.tcpPort()),
            { 0, 0 }, kText, kDue);
        db.exec(QStringLiteral("UPDATE ServiceProviders SET Password = ?"), { c.password });

        FakeTelephony telephony;
        CModemList modems { [] { return QString(); }, &telephony };
        Send send(modems, SendTiming { 20, 0, 0, 20000 });
        QVERIFY(send.Run(30000));
        QVERIFY2(db.rows("Messages", kStatusRetries) == c.rows,
            qPrintable(db.rows("Messages", kStatusRetries).join(' ') + " / " + send.lines.join('\n')));
        if (!c.log.isEmpty())
            QCOMPARE(db.rows("SendLog", kSendLogEntry), c.log);
        QByteArrayList paged;
        for (const auto& page : sim.pages()) {
            QCOMPARE(page.text, kText.toLatin1());
            QCOMPARE(page.protocol, QByteArray(config.snpp ? "snpp" : "tap"));
            paged << page.pagerId;
        }
        QCOMPARE(paged, c.pages);
        QVERIFY(telephony.calls.isEmpty());
        if (!c.shown.isEmpty()) {
            const QString lines = send.lines.join('\n');
            QVERIFY2(lines.contains(c.shown), qPrintable(lines));
            QVERIFY2(db.rows("SendLog", kSendLogEntry).value(0).contains(c.shown),
                qPrintable(db.rows("SendLog", kSendLogEntry).join('\n')));
        }
    }

private:
    QTemporaryDir m_certs;
};

QTEST_GUILESS_MAIN(TestCarrierCalls)
#include "test_carrier_calls.moc"
