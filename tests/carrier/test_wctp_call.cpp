// Sends to a WCTP gateway (http://), end to end against the in-process simulator: what
// the gateway's verdicts, its HTTP errors and a lost connection do to each recipient's
// row and the send log, and the text as the gateway read it out of the XML.
#include "FakeTelephony.h"
#include "OneSend.h"
#include "PagingSimulator.h"
#include "TempSettings.h"
#include "carrier/HttpExchange.h"

#include <QTest>

using quillpost::sim::PagingSimulator;
using quillpost::sim::SimConfig;

namespace {

const QString kText = QStringLiteral("Boiler 2 pressure alarm");
const QString kDue = QStringLiteral("2026-01-01 12:00:00");
const QString kAccepted = QStringLiteral("200 Accepted");

// How one send to recipients 1001 and 1002 goes, and what it leaves.
struct Case
{
    SimConfig sim {};
    QStringList rows {}; // Status,Retries of 1001 and 1002 afterwards
    // PagerId,Outcome,TerminalLine; an entry ending in "*" is matched up to it, for the
    // words of the network library.
    QStringList log {};
    QByteArrayList pages {}; // the pager IDs the gateway took
    QString status = CSendSession::kSent; // the send's last status line
    QString password {}; // the provider's stored password, sent as the security code
    QString text = kText;
    bool listening = true; // false: nothing listens on the gateway's port
};

SimConfig WithFaults(const quillpost::sim::SimFaults& faults)
{
    SimConfig config;
    config.faults = faults;
    return config;
}

bool Matches(const QStringList& entries, const QStringList& expected)
{
    if (entries.size() != expected.size())
        return false;
    for (qsizetype i = 0; i < entries.size(); ++i)
        if (expected[i].endsWith('*') ? !entries[i].startsWith(expected[i].chopped(1))
                                      : entries[i] != expected[i])
            return false;
    return true;
}

} // namespace

Q_DECLARE_METATYPE(Case)

class TestWctpCall : public QObject
{
    Q_OBJECT

private slots:
    void send_data()
    {
        QTest::addColumn<Case>("c");
        const QStringList sent { "1,0", "1,0" }, firstFailed { "0,1", "0,0" };
        const QByteArrayList both { "1001", "1002" };
        SimConfig secured;
        secured.password = "s3cret";
        QTest::newRow("two recipients in one call, the security code taken")
            << Case { secured, sent, { "1001,1," + kAccepted, "1002,1," + kAccepted }, both,
                   CSendSession::kSent, "s3cret" };
        QTest::newRow("markup, quotes and letters outside ASCII arrive as written")
            << Case { {}, sent, {}, both, CSendSession::kSent, {},
                   QStringLiteral("<b>&amp; \"A\" & 'B' caf\u00e9 \u2192 ]]> 100%") };
        SimConfig unknown;
        unknown.unknownPagerIds = { "1001" };
        QTest::newRow("first recipient refused, second still paged") << Case { unknown,
            { "0,1", "1,0" }, { "1001,0,403 Invalid recipientID", "1002,1," + kAccepted },
            { "1002" }, CSendSession::kSent };
        QTest::newRow("wrong security code: refused, the call ends") << Case { secured, firstFailed,
            { "1001,0,402 Invalid security code" }, {}, CSendSession::kRefused, "guess" };
        // The gateway took the page but its answer was lost: the recipient's attempt
        // fails, and the request is not sent again behind the program's back.
        QTest::newRow("connection dropped after the first page")
            << Case { WithFaults({ .dropLineAfterBlock = 1 }), firstFailed, { "1001,0,*" },
                   { "1001" }, CSendSession::kLineFailed };
        QTest::newRow("HTTP error status: a lost line") << Case { WithFaults({ .nakBlock = 1 }),
            firstFailed, { "1001,0,HTTP 503 Service Unavailable" }, {}, CSendSession::kLineFailed };
        QTest::newRow("a reply that is not XML: a lost line")
            << Case { WithFaults({ .garbage = true }), firstFailed,
                   { "1001,0,The gateway's reply is not a WCTP confirmation" }, {},
                   CSendSession::kLineFailed };
        QTest::newRow("silence: the send's time-out ends the call")
            << Case { WithFaults({ .silentAfterConnect = true }), firstFailed, { "1001,0," }, {},
                   CSendSession::kTimedOut };
        Case refused { {}, firstFailed, { "1001,0,*" }, {}, CSendSession::kLineFailed };
        refused.listening = false;
        QTest::newRow("nothing listening: a lost line") << refused;
    }

    void send()
    {
        QFETCH(Case, c);
        TempSettings settings;
        TempDatabase db;
        PagingSimulator sim([&c] {
            SimConfig config = c.sim;
            config.wctp = true;
            return config;
        }());
        QVERIFY2(sim.startTcp(), qPrintable(sim.errorString()));
        const QString url = QStringLiteral("http://desk@127.0.0.1:%1/wctp").arg(sim.tcpPort());
        if (!c.listening)
            sim.stop();
        QueueMessage(db, url, { 0, 0 }, c.text, kDue);
        db.exec(QStringLiteral("UPDATE ServiceProviders SET Password = ?"), { c.password });

        FakeTelephony telephony;
        CModemList modems { [] { return QString(); }, &telephony };
        Send send(modems, SendTiming { 2, 0, 0, 20000 });
        QVERIFY(send.Run(30000));
        QCOMPARE(db.rows("Messages", kStatusRetries), c.rows);
        const QStringList log = db.rows("SendLog", kSendLogEntry);
        if (!c.log.isEmpty())
            QVERIFY2(Matches(log, c.log), qPrintable(log.join('\n')));
        QCOMPARE(send.statuses.last(), c.status);
        QByteArrayList paged;
        for (const quillpost::sim::AcceptedPage& page : sim.pages()) {
            QCOMPARE(QString::fromUtf8(page.text), c.text);
            QCOMPARE(page.protocol, QByteArray("wctp"));
            paged << page.pagerId;
        }
        QCOMPARE(paged, c.pages);
        // Keep-alive: every page of the call went over one connection.
        QCOMPARE(sim.callCount(), c.listening ? 1 : 0);
        QVERIFY(telephony.calls.isEmpty());
    }

    // A gateway's answer however it is framed and however it arrives; an empty piece
    // stands for the connection closing.
    void responseFraming_data()
    {
        QTest::addColumn<QByteArrayList>("pieces");
        QTest::addColumn<int>("status"); // 0: still incomplete; -1: not HTTP
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("closes");
        const QByteArray ok = "HTTP/1.1 200 OK\r\n",
                         chunked = ok + "Transfer-Encoding: chunked\r\n\r\n";
        QTest::newRow("length, in pieces")
            << QByteArrayList { ok + "Content-Length: 5\r\n\r\nab", "cde" } << 200
            << QByteArray("abcde") << false;
        QTest::newRow("chunks, an extension and a trailer")
            << QByteArrayList { chunked + "3\r\nabc\r\n2;x=1\r", "\nde\r\n0\r\nX: y\r\n\r\n" }
            << 200 << QByteArray("abcde") << false;
        QTest::newRow("100 Continue before the answer") << QByteArrayList {
            "HTTP/1.1 100 Continue\r\n\r\n" + ok + "Content-Length: 1\r\n\r\nz"
        } << 200 << QByteArray("z") << false;
        QTest::newRow("HTTP/1.0, framed by the close")
            << QByteArrayList { "HTTP/1.0 503 Busy\r\n\r\nnot", " now", "" } << 503
            << QByteArray("not now") << true;
        QTest::newRow("Connection: close")
            << QByteArrayList { ok + "Connection: close\r\nContent-Length: 0\r\n\r\n" } << 200
            << QByteArray() << true;
        QTest::newRow("closed short of its length")
            << QByteArrayList { ok + "Content-Length: 9\r\n\r\nabc", "" } << 0 << QByteArray()
            << false;
        QTest::newRow("not HTTP") << QByteArrayList { "SSH-2.0-OpenSSH\r\n\r\n" } << -1
                                  << QByteArray() << false;
        QTest::newRow("a chunk size that is no number")
            << QByteArrayList { chunked + "zz\r\nabc\r\n" } << -1 << QByteArray() << false;
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
};

QTEST_GUILESS_MAIN(TestWctpCall)
#include "test_wctp_call.moc"
