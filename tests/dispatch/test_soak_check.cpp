#include "SoakCheck.h"

#include <QTest>

// The soak run's verdict on rows, given the pages the terminal took: what it lets pass
// and what it reports as lost, stuck or a stray page. Rows sent once, and pages of two
// lines merged in the order they came, pass through it in soak_run and soak_run_two_lines.
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
        const auto row = [](const char* name, int status, int retries, const QList<Page>& pages,
                             const QList<int>& found) {
            QTest::newRow(name) << status << retries << pages << found;
        };
        row("sent, nothing taken", 1, 0, {}, { 1, 0, 0, 0 });
        row("sent, acknowledged twice", 1, 0, { { 1, true }, { 2, true } }, { 1, 0, 0, 1 });
        row("given up, every ACK lost", 2, 4, { { 1, false }, { 3, false } }, { 0, 0, 0, 1 });
        row("given up, yet acknowledged", 2, 4, { { 2, true } }, { 1, 0, 0, 0 });
        row("given up after three attempts", 2, 3, {}, { 1, 0, 0, 0 });
        row("still waiting", 0, 1, {}, { 0, 1, 0, 0 });
        row("unknown Status", 3, 0, { { 1, true } }, { 1, 0, 0, 0 });
        row("another text to the pager", 1, 0, { { 1, true }, { 2, true, "Soak 0002" } },
            { 0, 0, 1, 0 });
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
        // Counted as sent or given up by its Status.
        QCOMPARE(
            (QList<int> { int(verdict.lost.size()), int(verdict.stuck.size()),
                int(verdict.strangers.size()), verdict.duplicates, verdict.sent, verdict.givenUp }),
            (found + QList<int> { status == 1, status == 2 }));
    }
};

QTEST_GUILESS_MAIN(TestSoakCheck)
#include "test_soak_check.moc"
