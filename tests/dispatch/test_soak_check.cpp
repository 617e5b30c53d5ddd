#include "SoakCheck.h"

#include <QTest>

// The soak run's verdict on one row, given the pages the terminal took: what it lets
// pass and what it reports as lost, stuck or a stray page.
struct Page
{
    int call;
    bool acknowledged;
    QByteArray text = "Soak 0001";
};

Q_DECLARE_METATYPE(QList<Page>)

class TestSoakCheck : public QObject
{
    Q_OBJECT

private slots:
    void oneRow_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("retries");
        QTest::addColumn<QList<Page>>("pages");
        QTest::addColumn<QList<int>>("found"); // lost, stuck, strangers, duplicates
        using P = QList<Page>;
        using F = QList<int>;
        QTest::newRow("sent once") << 1 << 0 << P { { 1, true } } << F { 0, 0, 0, 0 };
        QTest::newRow("sent again after a lost ACK")
            << 1 << 1 << P { { 1, false }, { 2, true } } << F { 0, 0, 0, 1 };
        QTest::newRow("sent, nothing taken") << 1 << 0 << P {} << F { 1, 0, 0, 0 };
        QTest::newRow("sent, its ACK lost") << 1 << 0 << P { { 1, false } } << F { 1, 0, 0, 0 };
        QTest::newRow("sent, acknowledged twice")
            << 1 << 0 << P { { 1, true }, { 2, true } } << F { 1, 0, 0, 1 };
        QTest::newRow("sent again after its ACK")
            << 1 << 0 << P { { 1, true }, { 2, false } } << F { 1, 0, 0, 1 };
        QTest::newRow("given up, nothing taken") << 2 << 4 << P {} << F { 0, 0, 0, 0 };
        QTest::newRow("given up, every ACK lost")
            << 2 << 4 << P { { 1, false }, { 3, false } } << F { 0, 0, 0, 1 };
        QTest::newRow("given up, yet acknowledged")
            << 2 << 4 << P { { 2, true } } << F { 1, 0, 0, 0 };
        QTest::newRow("given up after three attempts") << 2 << 3 << P {} << F { 1, 0, 0, 0 };
        QTest::newRow("still waiting") << 0 << 1 << P {} << F { 0, 1, 0, 0 };
        QTest::newRow("unknown Status") << 3 << 0 << P { { 1, true } } << F { 1, 0, 0, 0 };
        QTest::newRow("another text to the pager")
            << 1 << 0 << P { { 1, true }, { 2, true, "Soak 0002" } } << F { 0, 0, 1, 0 };
    }

    void oneRow()
    {
        QFETCH(int, status);
        QFETCH(int, retries);
        QFETCH(QList<Page>, pages);
        QFETCH(QList<int>, found);
        QList<AcceptedPage> taken;
        for (const Page& page : pages)
            taken << AcceptedPage { "3001", page.text, {}, page.call, {}, page.acknowledged };

        const SoakVerdict verdict
            = CheckSoakRows({ SoakRow { 7, "3001", "Soak 0001", status, retries } }, taken);
        // One row, counted as sent or given up by its Status.
        QCOMPARE(
            (QList<int> { verdict.rows, int(verdict.lost.size()), int(verdict.stuck.size()),
                int(verdict.strangers.size()), verdict.duplicates, verdict.sent, verdict.givenUp }),
            (QList<int> { 1 } + found + QList<int> { status == 1, status == 2 }));
    }

    // Two lines' terminals, each numbering its own calls: a page sent again on the other
    // line after its ACK was lost passes, one sent again after it was acknowledged is lost.
    void twoLines_data()
    {
        QTest::addColumn<bool>("firstAcknowledged");
        QTest::addColumn<int>("lost");
        QTest::newRow("ACK lost, then sent on the other line") << false << 0;
        QTest::newRow("acknowledged, then sent on the other line") << true << 1;
    }
    void twoLines()
    {
        QFETCH(bool, firstAcknowledged);
        QFETCH(int, lost);
        const QDateTime start = QDateTime::fromSecsSinceEpoch(1000000000, Qt::UTC);
        // Line 1's second call took the row's page before line 2's first call did.
        const QList<AcceptedPage> taken = MergeLinePages({
            { AcceptedPage { "3002", "Soak 0002", {}, 1, start, true },
                AcceptedPage { "3001", "Soak 0001", {}, 2, start.addSecs(10), firstAcknowledged } },
            { AcceptedPage { "3001", "Soak 0001", {}, 1, start.addSecs(20), true } },
        });
        const SoakVerdict verdict = CheckSoakRows(
            { SoakRow { 7, "3001", "Soak 0001", 1, firstAcknowledged ? 0 : 1 },
                SoakRow { 8, "3002", "Soak 0002", 1, 0 } },
            taken);
        QCOMPARE(int(verdict.lost.size()), lost);
        QCOMPARE(verdict.sent, 2);
    }
};

QTEST_GUILESS_MAIN(TestSoakCheck)
#include "test_soak_check.moc"
