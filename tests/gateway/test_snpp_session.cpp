// The SNPP conversation without a socket: one table of client scripts, each with the
// reply codes it must get, whether the connection ends, and the message handed on to
// be queued (pager IDs, text, due time, login, subject, caller).
#include "gateway/SnppSession.h"

#include <QTest>
#include <ctime>

class TestSnppSession : public QObject
{
    Q_OBJECT

private slots:
    // HOLD's difference from UTC is turned into local time: the test's local time is UTC.
    void initTestCase()
    {
        qputenv("TZ", "UTC");
        tzset();
    }

    void conversations_data()
    {
        QTest::addColumn<QByteArrayList>("lines");
        QTest::addColumn<bool>("loginRequired");
        QTest::addColumn<QString>("codes"); // of every reply line, in order
        QTest::addColumn<bool>("closed"); // by the last reply
        QTest::addColumn<QString>("submitted"); // pagers|text|due|login|subject|caller
        const auto row
            = [](const char* name, const QByteArrayList& lines, const QString& codes,
                  const QString& submitted = {}, bool closed = false, bool loginRequired = false) {
                  QTest::newRow(name) << lines << loginRequired << codes << closed << submitted;
              };
        row("level 1: PAGE, MESS, SEND, QUIT", { "PAGE 101", "MESS disk full", "SEND", "QUIT" },
            "250 250 250 221", "101|disk full||||", true);
        row("several PAGEs make one message, long verbs and any case",
            { "pager 101 secret", "Page #2", "MESSage x", "SEND", "PAGE 3", "SEND", "MESS y" },
            "250 250 250 250 250 503 250", "101,#2|x||||");
        row("DATA: lines kept, a doubled leading dot undone, ended by a lone dot",
            { "PAGE 1", "DATA", "line one", "..dot", "", ".", "SEND" }, "250 354 250 250",
            "1|line one\n.dot\n||||");
        row("sendpage: LOGI, SITE dropped, LEVE, then no QUIT",
            { "LOGI ops pw", "SITE IDLE 900", "LEVE 1", "PAGE 1", "MESS m", "SEND" },
            "250 500 250 250 250 250", "1|m||ops||");
        row("unknown pager refused, the others kept", { "PAGE nobody", "PAGE 1", "MESS m", "SEND" },
            "550 250 250 250", "1|m||||");
        row("out of order", { "SEND", "MESS a", "MESS b", "DATA", "SEND", "PAGE", "MESS" },
            "503 250 503 503 503 550 503");
        row("RESE forgets the message, not the login",
            { "LOGI ops", "PAGE 1", "MESS a", "HOLD 301224183000", "RESE", "SEND", "PAGE 2",
                "MESS b", "SEND" },
            "250 250 250 250 250 503 250 250 250", "2|b||ops||");
        row("HOLD with a difference from UTC; SUBJ and CALL kept",
            { "HOLD 301224183000 -0500", "SUBJ Disk", "CALL 555", "PAGE 1", "MESS m", "SEND" },
            "250 250 250 250 250 250", "1|m|2030-12-24 23:30:00||Disk|555");
        row("HOLD with a four-digit year and no difference",
            { "HOLD 20310102030405", "PAGE 1", "MESS m", "SEND" }, "250 250 250 250",
            "1|m|2031-01-02 03:04:05|||");
        row("HOLD that is no time", { "HOLD 301332000000", "HOLD tomorrow", "HOLD 3012241830" },
            "550 550 550");
        row("login required: refused, then accepted",
            { "PAGE 1", "LOGI ops wrong", "PAGE 1", "LOGI ops right", "PAGE 1", "MESS m", "SEND" },
            "503 550 503 250 250 250 250", "1|m||ops||", false, true);
        row("the queue refuses or fails: 550 and 554, nothing kept",
            { "PAGE gone", "MESS m", "SEND", "PAGE broken", "MESS m", "SEND", "SEND" },
            "250 250 550 250 250 554 503");
        row("unknown commands and HELP", { "PING 1", "", "HELP" },
            "500 500 214 214 214 214 214 214 214 214 214 214 250");
        row("a line over 1 KiB ends the connection", { "PAGE 1", QByteArray(1025, 'x'), "SEND" },
            "250 500", {}, true);
        QByteArrayList data { "PAGE 1", "DATA" };
        for (int i = 0; i < 64; ++i)
            data << QByteArray(1023, 'd');
        row("DATA of 64 KiB less one byte is taken", data + QByteArrayList { ".", "SEND" },
            "250 354 250 250", "1|" + data.mid(2).join('\n') + "||||");
        row("DATA over 64 KiB ends the connection", data + QByteArrayList { "d", "." },
            "250 354 554", {}, true);
        QByteArrayList many;
        for (int i = 0; i <= CSnppSession::kMostPagers; ++i)
            many << "PAGE 1";
        row("more pagers than a message takes", many,
            QStringLiteral("250 ").repeated(CSnppSession::kMostPagers) + "552");
    }

    void conversations()
    {
        QFETCH(QByteArrayList, lines);
        QFETCH(bool, loginRequired);
        QFETCH(QString, codes);
        QFETCH(bool, closed);
        QFETCH(QString, submitted);

        QStringList handedOn;
        CSnppSession session(
            { [](const QString& id) { return id == "nobody" ? QString("unknown") : QString(); },
                [&handedOn](const SnppMessage& m) {
                    handedOn << QStringList { m.pagerIds.join(','), m.text,
                        m.due ? m.due->ToText() : QString(), m.login, m.subject, m.callerId }
                                    .join('|');
                    using Outcome = SnppSubmitResult::Outcome;
                    const Outcome outcome = m.pagerIds.contains("gone") ? Outcome::Refused
                        : m.pagerIds.contains("broken")                 ? Outcome::Failed
                                                                        : Outcome::Queued;
                    return SnppSubmitResult { outcome, 7, "why" };
                } },
            loginRequired);
        QVERIFY(CSnppSession::Greeting().startsWith("220 "));
        QStringList got;
        bool ended = false;
        for (const QByteArray& line : lines) {
            QVERIFY2(!ended, "a line was taken after the connection ended");
            SnppReply reply = session.Line(line);
            if (reply.checkLogin) {
                QVERIFY(reply.text.isEmpty());
                reply = session.LoginChecked(reply.checkLogin->second == "right");
            }
            QVERIFY(reply.text.isEmpty() || reply.text.endsWith("\r\n"));
            for (const QByteArray& replyLine : reply.text.split('\n'))
                if (!replyLine.isEmpty())
                    got << QString::fromLatin1(replyLine.left(3));
            ended = reply.close;
            if (ended)
                break;
        }
        QCOMPARE(got.join(' '), codes);
        QCOMPARE(ended, closed);
        // The rows that refuse or fail were handed on too; only a queued one matters here.
        handedOn.removeIf(
            [](const QString& m) { return m.startsWith("gone") || m.startsWith("broken"); });
        QCOMPARE(handedOn.join('\n'), submitted);
    }
};

QTEST_GUILESS_MAIN(TestSnppSession)
#include "test_snpp_session.moc"
