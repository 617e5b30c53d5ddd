// Providers reached by URL: how an access number is read, and sends end to end against the
// in-process simulator (TAP and SNPP over TCP and TLS, WCTP over HTTP): what each
// recipient's row and the send log keep, certificates the program must not trust, and a
// WCTP gateway's answer however it is framed.
#include "OneSend.h"
#include "PagingSimulator.h"
#include "TempSettings.h"
#include "carrier/CarrierAddress.h"
#include "carrier/HttpExchange.h"

#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

using quillpost::sim::PagingSimulator;
using quillpost::sim::SimConfig;
using quillpost::sim::SimFaults;

namespace {

// CarrierKind's values by name, in the enum's order.
const char* const kKinds[] = { "dialled", "tap", "taps", "snpp", "snpps", "wctp" };
const QString kText = QStringLiteral("Boiler 2 pressure alarm");
const QString kTapSent = QStringLiteral("211 Page(s) Sent");
const QString kSnppSent = QStringLiteral("250 Message sent successfully");
const QString kWctpSent = QStringLiteral("200 Accepted");

// How one send to recipients 1001 and 1002 goes, and what it leaves.
struct Case
{
    QString scheme; // tap, taps, snpp, snpps, or http: a WCTP gateway
    SimFaults faults {};
    QByteArrayList unknown {}; // the pager IDs the far end refuses
    QStringList rows { "1,0", "1,0" }; // Status,Retries of 1001 and 1002 afterwards
    // PagerId,Outcome,TerminalLine (empty: not checked); an entry ending in "*" is
    // matched up to it, for the words of the network library.
    QStringList log {};
    QByteArrayList pages { "1001", "1002" }; // the pager IDs the far end took
    QString status {}; // the send's last status line (empty: not checked)
    QString login {}; // the URL's user part, which an SNPP server then asks for
    QString password {}; // the provider's stored password; the far end then asks for "s3cret"
    QString text = kText;
    bool listening = true; // false: nothing listens on the port
    int tickMs = 20;
    // The certificate refused, as the sending window shows it and the send log keeps it
    // (empty: the test authority is named in [Network] caCertificates, and trusted).
    QString shown {};
};

// The first recipient fails and the call ends there: 1001's one log entry and the send's
// last status (each empty: not checked).
Case FirstFails(Case c, const QString& logged = {}, const QString& status = {})
{
    c.rows = { "0,1", "0,0" };
    c.log = logged.isEmpty() ? QStringList() : QStringList { logged };
    c.pages = {};
    c.status = status;
    return c;
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
        for (const char* arguments : { "-keyout ca.key -out ca.pem -subj /CN=Quillpost-Test-CA",
                 "-keyout server.key -out server.pem -subj /CN=Quillpost-Test-Server -CA ca.pem "
                 "-CAkey ca.key -addext basicConstraints=CA:FALSE "
                 "-addext subjectAltName=IP:127.0.0.1" }) {
            QProcess openssl;
            openssl.setWorkingDirectory(m_certs.path());
            openssl.start("openssl",
                (QString("req -x509 -newkey rsa:2048 -nodes -days 2 ") + arguments).split(' '));
            QVERIFY2(openssl.waitForFinished(30000), "openssl is needed (scripts/deps)");
            QCOMPARE(openssl.exitCode(), 0);
        }
    }

    void send_data()
    {
        QTest::addColumn<Case>("c");
        const QString lineFailed = CSendSession::kLineFailed;
        for (const char* scheme : { "tap", "taps", "snpp", "snpps" }) {
            const QString accepted = QString(scheme).startsWith("tap") ? kTapSent : kSnppSent;
            QTest::addRow("%s: two recipients on one call", scheme) << Case { .scheme = scheme,
                .log = { "1001,1," + accepted, "1002,1," + accepted } };
        }
        QTest::newRow("snpp: first SEND refused, second still paged")
            << Case { .scheme = "snpp", .faults = { .nakBlock = 1 }, .rows = { "0,1", "1,0" },
                   .log = { "1001,0,554 Error, failed to send the page", "1002,1," + kSnppSent },
                   .pages = { "1002" } };
        for (const char* scheme : { "tap", "snpp" })
            QTest::addRow("%s: line dropped after the first page", scheme)
                << Case { .scheme = scheme, .faults = { .dropLineAfterBlock = 1 },
                       .rows = { "1,0", "0,1" }, .pages = { "1001" } };
        QTest::newRow("snpp: login and password taken")
            << Case { .scheme = "snpp", .login = "alice", .password = "s3cret" };
        QTest::newRow("snpp: wrong password ends the call")
            << FirstFails({ .scheme = "snpp", .login = "alice", .password = "guess" },
                   "1001,0,550 Invalid login or password");
        for (const char* scheme : { "taps", "snpps" })
            QTest::addRow("%s: certificate of an unknown authority refused", scheme)
                << FirstFails({ .scheme = scheme,
                    .shown = "CN=Quillpost-Test-Server issued by CN=Quillpost-Test-CA" });

        QTest::newRow("wctp: two recipients in one call, the security code taken, markup, "
                      "quotes and letters outside ASCII arriving as written")
            << Case { .scheme = "http", .log = { "1001,1," + kWctpSent, "1002,1," + kWctpSent },
                   .status = CSendSession::kSent, .password = "s3cret",
                   .text = QStringLiteral("<b>&amp; \"A\" & 'B' caf\u00e9 \u2192 ]]> 100%") };
        QTest::newRow("wctp: first recipient refused, second still paged")
            << Case { .scheme = "http", .unknown = { "1001" }, .rows = { "0,1", "1,0" },
                   .log = { "1001,0,403 Invalid recipientID", "1002,1," + kWctpSent },
                   .pages = { "1002" }, .status = CSendSession::kSent };
        QTest::newRow("wctp: wrong security code: refused, the call ends")
            << FirstFails({ .scheme = "http", .password = "guess" },
                   "1001,0,402 Invalid security code", CSendSession::kRefused);
        // The gateway took the page but its answer was lost: the recipient's attempt
        // fails, and the request is not sent again behind the program's back.
        QTest::newRow("wctp: connection dropped after the first page")
            << Case { .scheme = "http", .faults = { .dropLineAfterBlock = 1 },
                   .rows = { "0,1", "0,0" }, .log = { "1001,0,*" }, .pages = { "1001" },
                   .status = lineFailed };
        QTest::newRow("wctp: HTTP error status: a lost line")
            << FirstFails({ .scheme = "http", .faults = { .nakBlock = 1 } },
                   "1001,0,HTTP 503 Service Unavailable", lineFailed);
        QTest::newRow("wctp: a reply that is not XML: a lost line")
            << FirstFails({ .scheme = "http", .faults = { .garbage = true } },
                   "1001,0,The gateway's reply is not a WCTP confirmation", lineFailed);
        QTest::newRow("wctp: silence: the send's time-out ends the call")
            << FirstFails(
                   { .scheme = "http", .faults = { .silentAfterConnect = true }, .tickMs = 2 },
                   "1001,0,", CSendSession::kTimedOut);
        QTest::newRow("wctp: nothing listening: a lost line")
            << FirstFails({ .scheme = "http", .listening = false }, "1001,0,*", lineFailed);
    }

    void send()
    {
        QFETCH(Case, c);
        TempSettings settings;
        TempDatabase db;
        SimConfig config;
        config.faults = c.faults;
        config.unknownPagerIds = c.unknown;
        config.password = c.password.isEmpty() ? QByteArray() : QByteArray("s3cret");
        config.snppLogin = c.login.toUtf8();
        config.snpp = c.scheme.startsWith("snpp");
        config.wctp = c.scheme == "http";
        if (c.scheme.endsWith('s')) {
            config.tlsCertificatePath = m_certs.filePath("server.pem");
            config.tlsKeyPath = m_certs.filePath("server.key");
        }
        PagingSimulator sim(config);
        QVERIFY(sim.startTcp());
        if (c.shown.isEmpty())
            QSettings(QStringLiteral("Northmoor"), QStringLiteral("Quillpost"))
                .setValue(QStringLiteral("Network/caCertificates"), m_certs.filePath("ca.pem"));
        const QString login = config.wctp ? QStringLiteral("desk") : c.login;
        const QString url = c.scheme + "://" + (login.isEmpty() ? QString() : login + '@')
            + "127.0.0.1:" + QString::number(sim.tcpPort()) + (config.wctp ? "/wctp" : "");
        if (!c.listening)
            sim.stop();
        QueueMessage(db, url, { 0, 0 }, c.text, "2026-01-01 12:00:00");
        db.exec(QStringLiteral("UPDATE ServiceProviders SET Password = ?"), { c.password });

        CModemList modems { [] { return QString(); } };
        Send send(modems, SendTiming { c.tickMs, 0, 0, 20000 });
        QVERIFY(send.Run(30000));
        QCOMPARE(db.rows("Messages", kStatusRetries), c.rows);
        QStringList log = db.rows("SendLog", kSendLogEntry);
        for (qsizetype i = 0; i < qMin(log.size(), c.log.size()); ++i)
            if (c.log[i].endsWith('*') && log[i].startsWith(c.log[i].chopped(1)))
                log[i] = c.log[i];
        if (!c.log.isEmpty())
            QCOMPARE(log, c.log);
        if (!c.status.isEmpty())
            QCOMPARE(send.statuses.last(), c.status);
        QByteArrayList paged;
        for (const quillpost::sim::AcceptedPage& page : sim.pages()) {
            QCOMPARE(QString::fromUtf8(page.text), c.text);
            paged << page.pagerId;
        }
        QCOMPARE(paged, c.pages);
        // Keep-alive: every page to a WCTP gateway went over one connection.
        if (config.wctp)
            QCOMPARE(sim.callCount(), c.listening ? 1 : 0);
        if (!c.shown.isEmpty()) {
            QVERIFY(send.lines.join('\n').contains(c.shown));
            QVERIFY(log.value(0).contains(c.shown));
        }
    }

    // A gateway's answer however it is framed and however it arrives; an empty piece
    // stands for the connection closing.
    void responseFraming_data()
    {
        QTest::addColumn<QByteArrayList>("pieces");
        QTest::addColumn<int>("status"); // 0: still incomplete; -1: not HTTP
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("closes");
        const auto row = [](const char* name, const QByteArrayList& pieces, int status,
                             const QByteArray& body = {}, bool closes = false) {
            QTest::newRow(name) << pieces << status << body << closes;
        };
        const QByteArray ok = "HTTP/1.1 200 OK\r\n";
        const QByteArray chunked = ok + "Transfer-Encoding: chunked\r\n\r\n";
        row("chunks, an extension and a trailer",
            { chunked + "3\r\nabc\r\n2;x=1\r", "\nde\r\n0\r\nX: y\r\n\r\n" }, 200, "abcde");
        row("100 Continue before the answer",
            { "HTTP/1.1 100 Continue\r\n\r\n" + ok + "Content-Length: 1\r\n\r\nz" }, 200, "z");
        row("HTTP/1.0, framed by the close", { "HTTP/1.0 503 Busy\r\n\r\nnot", " now", "" }, 503,
            "not now", true);
        row("Connection: close", { ok + "Connection: close\r\nContent-Length: 0\r\n\r\n" }, 200,
            {}, true);
        row("closed short of its length", { ok + "Content-Length: 9\r\n\r\nabc", "" }, 0);
        row("not HTTP", { "SSH-2.0-OpenSSH\r\n\r\n" }, -1);
        row("a chunk size that is no number", { chunked + "zz\r\nabc\r\n" }, -1);
    }

    void responseFraming()
    {
        QFETCH(QByteArrayList, pieces);
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(bool, closes);
        CHttpResponseReader reader;
        auto state = CHttpResponseReader::State::Incomplete;
        for (const QByteArray& piece : pieces)
            state = piece.isEmpty() ? reader.Closed() : reader.Feed(piece);
        QCOMPARE(state,
            status < 0        ? CHttpResponseReader::State::Bad
                : status == 0 ? CHttpResponseReader::State::Incomplete
                              : CHttpResponseReader::State::Complete);
        if (status <= 0)
            return;
        QCOMPARE(reader.Status(), status);
        QCOMPARE(reader.Body(), body);
        QCOMPARE(reader.ClosesConnection(), closes);
    }

    void parse_data()
    {
        QTest::addColumn<QString>("accessNumber");
        QTest::addColumn<QString>("read"); // kind|tls|host|port|login|path of a usable one
        QTest::addColumn<QString>("told"); // a part of the refusal; empty when usable

        const auto row = [](const QString& access, const char* read, const char* told = "") {
            QTest::newRow(qPrintable(access)) << access << QString(read) << QString(told);
        };
        row("(555) 123-4567", "dialled|0||0||");
        row("TAPS://[2001:db8::1]:7778/", "taps|1|2001:db8::1|7778||");
        row("snpp://Desk%40ops@pager.example.net", "snpp|0|pager.example.net|444|Desk@ops|");
        row("http://wctp.example.net?v=1", "wctp|0|wctp.example.net|80||/?v=1");
        row("https://SENDER@wctp.example.net", "wctp|1|wctp.example.net|443|SENDER|/");

        row("ftp://host:21", "", "\"ftp://\" is not a way in");
        row("tap://:7777", "", "names no host");
        row("snpp://host:0", "", "the port \"0\" is not a number from 1 to 65535");
        row("https://host:65536/p", "", "from 1 to 65535");
        row("taps://host/", "", "needs a port");
        row("tap://host:1/x", "", "no path");
        row("snpp://host?x=1", "", "no query");
        row("https://host/p#top", "", "fragment");
        row("https://me:@host/", "", "holds a password");
        row("tap://me@host:1", "", "takes no login");
        row("snpp://@host", "", "login name before \"@\" is empty");
        row("snpp://me%4@host", "", "two hex digits");
        row("snpp://me%0A@host", "", "login name is not usable"); // %0A: LF
        row("snpp://host ", "", "a space");
        row(QString::fromUtf8("snpp://h\u00f6st"), "", "U+00F6");
        row("snpp://ho;st", "", "the host holds \";\"");
        row("tap://[::1:7777", "", "not closed");
        row("tap://[zz]:7777", "", "not an IPv6 address");
    }

    // Where a provider's access number leads: every way in read, and every malformed URL
    // refused with a reason the operator can act on, never needing the modem.
    void parse()
    {
        QFETCH(QString, accessNumber);
        QFETCH(QString, read);
        QFETCH(QString, told);
        const CarrierAddress address = ParseCarrierAddress(accessNumber);
        QCOMPARE(address.IsUsable(), told.isEmpty());
        QVERIFY(address.refusal.contains(told));
        const QStringList fields { kKinds[int(address.kind)], QString::number(address.tls),
            address.host, QString::number(address.port), address.login, address.path };
        if (told.isEmpty())
            QCOMPARE(fields.join('|'), read);
    }

private:
    QTemporaryDir m_certs;
};

QTEST_GUILESS_MAIN(TestCarrierCalls)
#include "test_carrier_calls.moc"
