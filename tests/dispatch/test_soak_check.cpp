#include "SoakCheck.h"

#include <QTest>

using quillpost::sim::AcceptedPage;

// The soak run's verdict on one row, given the pages the terminal took: what it lets
// pass and what it reports as lost, stuck or a stray page.
namespace {

struct Page
{
    int call;
    bool acknowledged;
    QByteArray text = "Soak 0001";
};

QList<AcceptedPage> PagesTo(const QByteArray& pager, const QList<Page>& pages)
{
    QList<AcceptedPage> taken;
    for (const Page& page : pages) {
        AcceptedPage accepted;
        accepted.pagerId = pager;
        accepted.text = page.text;
        accepted.call = page.call;
        accepted.acknowledged = page.acknowledged;
        taken << accepted;
    }
    return taken;
}

} // namespace

Q_DECLARE_METATYPE(QList<Page>)

class TestSoakCheck : public QObject
{
    Q_OBJECT

private slots:
    void oneRow_data();
    void oneRow();
};

void TestSoakCheck::oneRow_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("retries");
    QTest::addColumn<QList<Page>>("pages");
    QTest::addColumn<int>("lost");
    QTest::addColumn<int>("stuck");
    QTest::addColumn<int>("strangers");
    QTest::addColumn<int>("duplicates");

    using P = QList<Page>;
    QTest::newRow("sent once") << 1 << 0 << P { { 1, true } } << 0 << 0 << 0 << 0;
    QTest::newRow("sent again after a lost ACK")
        << 1 << 1 << P { { 1, false }, { 2, true } } << 0 << 0 << 0 << 1;
    QTest::newRow("sent, nothing taken") << 1 << 0 << P {} << 1 << 0 << 0 << 0;
    QTest::newRow("sent, its ACK lost") << 1 << 0 << P { { 1, false } } << 1 << 0 << 0 << 0;
    QTest::newRow("sent, acknowledged twice")
        << 1 << 0 << P { { 1, true }, { 2, true } } << 1 << 0 << 0 << 1;
    QTest::newRow("sent again after its ACK")
        << 1 << 0 << P { { 1, true }, { 2, false } } << 1 << 0 << 0 << 1;
    QTest::newRow("given up, nothing taken") << 2 << 4 << P {} << 0 << 0 << 0 << 0;
    QTest::newRow("given up, every ACK lost")
        << 2 << 4 << P { { 1, false }, { 3, false } } << 0 << 0 << 0 << 1;
    QTest::newRow("given up, yet acknowledged") << 2 << 4 << P { { 2, true } } << 1 << 0 << 0 << 0;
    QTest::newRow("given up after three attempts") << 2 << 3 << P {} << 1 << 0 << 0 << 0;
    QTest::newRow("still waiting") << 0 << 1 << P {} << 0 << 1 << 0 << 0;
    QTest::newRow("unknown Status") << 3 << 0 << P { { 1, true } } << 1 << 0 << 0 << 0;
    QTest::newRow("another text to the pager")
        << 1 << 0 << P { { 1, true }, { 2, true, "Soak 0002" } } << 0 << 0 << 1 << 0;
}

void TestSoakCheck::oneRow()
{
    QFETCH(int, status);
    QFETCH(int, retries);
    QFETCH(QList<Page>, pages);
    const SoakRow row { 7, "3001", "Soak 0001", status, retries };

    const SoakVerdict verdict = CheckSoakRows({ row }, PagesTo(row.pagerId, pages));
    QCOMPARE(verdict.rows, 1);
    QTEST(int(verdict.lost.size()), "lost");
    QTEST(int(verdict.stuck.size()), "stuck");
    QTEST(int(verdict.strangers.size()), "strangers");
    QTEST(verdict.duplicates, "duplicates");
    QCOMPARE(verdict.sent, status == 1 ? 1 : 0);
    QCOMPARE(verdict.givenUp, status == 2 ? 1 : 0);
}

QTEST_GUILESS_MAIN(TestSoakCheck)
#include "test_soak_check.moc"
