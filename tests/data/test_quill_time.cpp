// Date/Time column values, their text form and their conversion to the in-memory
// seconds count, in a zone with daylight saving (UK rules).
#include "data/QuillTime.h"

#include <QDateTime>
#include <QTest>

#include <cstdlib>
#include <ctime>
#include <limits>

namespace {

qint64 utcSeconds(int year, int month, int day, int hour, int minute, int second)
{
    return QDateTime(QDate(year, month, day), QTime(hour, minute, second), Qt::UTC).toSecsSinceEpoch();
}

} // namespace

class TestQuillTime : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void textIsParsedStrictly_data();
    void textIsParsedStrictly();
    void localTimeBecomesUtcSeconds_data();
    void localTimeBecomesUtcSeconds();
    void valuesOutsideTheRangeAreClamped_data();
    void valuesOutsideTheRangeAreClamped();
    void timesInTheDaylightSavingChangesGiveNearbySeconds_data();
    void timesInTheDaylightSavingChangesGiveNearbySeconds();
    void everySecondsValueSurvivesARoundTrip_data();
    void everySecondsValueSurvivesARoundTrip();
};

void TestQuillTime::initTestCase()
{
    // A POSIX rule, so the test needs no zone database: GMT in winter, BST (+1) from
    // the last Sunday of March 01:00 to the last Sunday of October 02:00 local.
    qputenv("TZ", "GMT0BST,M3.5.0/1,M10.5.0");
    tzset();
}

void TestQuillTime::textIsParsedStrictly_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QString>("normalised");
    QTest::newRow("stored form") << "2026-12-06 14:05:09" << true << "2026-12-06 14:05:09";
    QTest::newRow("T separator") << "2026-12-06T14:05:09" << true << "2026-12-06 14:05:09";
    QTest::newRow("no seconds") << "2026-12-06 14:05" << true << "2026-12-06 14:05:00";
    QTest::newRow("date only") << "2026-12-06" << true << "2026-12-06 00:00:00";
    QTest::newRow("leap day") << "2028-02-29 00:00:00" << true << "2028-02-29 00:00:00";
    QTest::newRow("zero date-time") << "1899-12-30 00:00:00" << true << "1899-12-30 00:00:00";
    QTest::newRow("no leap day") << "2027-02-29 00:00:00" << false << "";
    QTest::newRow("month 13") << "2026-13-01 00:00:00" << false << "";
    QTest::newRow("hour 24") << "2026-01-01 24:00:00" << false << "";
    QTest::newRow("leap second") << "2026-01-01 23:59:60" << false << "";
    QTest::newRow("words") << "tomorrow" << false << "";
    QTest::newRow("empty") << "" << false << "";
    QTest::newRow("trailing rubbish") << "2026-01-01 10:00:00; x" << false << "";
}

void TestQuillTime::textIsParsedStrictly()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(QString, normalised);
    const std::optional<COleDateTime> parsed = COleDateTime::FromText(text);
    QCOMPARE(parsed.has_value(), valid);
    if (valid)
        QCOMPARE(parsed->ToText(), normalised);
}

void TestQuillTime::localTimeBecomesUtcSeconds_data()
{
    QTest::addColumn<COleDateTime>("local");
    QTest::addColumn<qint64>("utc");
    QTest::newRow("winter") << COleDateTime(2026, 1, 15, 9, 0, 0) << utcSeconds(2026, 1, 15, 9, 0, 0);
    QTest::newRow("summer, one hour ahead") << COleDateTime(2026, 7, 15, 9, 0, 0) << utcSeconds(2026, 7, 15, 8, 0, 0);
    QTest::newRow("epoch") << COleDateTime(1970, 1, 1, 0, 0, 0) << qint64(0);
    QTest::newRow("before 1970") << COleDateTime(1960, 1, 1, 0, 0, 0) << utcSeconds(1960, 1, 1, 0, 0, 0);
    QTest::newRow("last second") << COleDateTime(2038, 1, 19, 3, 14, 7) << qint64(std::numeric_limits<qint32>::max());
}

void TestQuillTime::localTimeBecomesUtcSeconds()
{
    QFETCH(COleDateTime, local);
    QFETCH(qint64, utc);
    QCOMPARE(qint64(ToQuillTime(local)), utc);
    QCOMPARE(FromQuillTime(ToQuillTime(local)), local);
}

void TestQuillTime::valuesOutsideTheRangeAreClamped_data()
{
    QTest::addColumn<COleDateTime>("local");
    QTest::addColumn<qint64>("clamped");
    const qint64 earliest = std::numeric_limits<qint32>::min();
    const qint64 latest = std::numeric_limits<qint32>::max();
    QTest::newRow("zero date-time") << COleDateTime() << earliest;
    QTest::newRow("year 100") << COleDateTime(100, 1, 1, 0, 0, 0) << earliest;
    QTest::newRow("one second late") << COleDateTime(2038, 1, 19, 3, 14, 8) << latest;
    QTest::newRow("year 9999") << COleDateTime(9999, 12, 31, 23, 59, 59) << latest;
}

void TestQuillTime::valuesOutsideTheRangeAreClamped()
{
    QFETCH(COleDateTime, local);
    QFETCH(qint64, clamped);
    QCOMPARE(qint64(ToQuillTime(local)), clamped);
}

void TestQuillTime::timesInTheDaylightSavingChangesGiveNearbySeconds_data()
{
    QTest::addColumn<COleDateTime>("local");
    QTest::addColumn<qint64>("earliest");
    QTest::addColumn<qint64>("latest");
    // 01:30 on 29 March 2026 does not exist; 01:30 on 25 October 2026 exists twice.
    QTest::newRow("skipped hour") << COleDateTime(2026, 3, 29, 1, 30, 0) << utcSeconds(2026, 3, 29, 0, 30, 0)
                                  << utcSeconds(2026, 3, 29, 1, 30, 0);
    QTest::newRow("repeated hour") << COleDateTime(2026, 10, 25, 1, 30, 0) << utcSeconds(2026, 10, 25, 0, 30, 0)
                                   << utcSeconds(2026, 10, 25, 1, 30, 0);
}

void TestQuillTime::timesInTheDaylightSavingChangesGiveNearbySeconds()
{
    QFETCH(COleDateTime, local);
    QFETCH(qint64, earliest);
    QFETCH(qint64, latest);
    const qint64 seconds = ToQuillTime(local);
    QVERIFY2(seconds >= earliest && seconds <= latest, qPrintable(QString::number(seconds)));
    // Times around the change keep their order.
    QVERIFY(ToQuillTime(COleDateTime(local.GetYear(), local.GetMonth(), local.GetDay(), 0, 0, 0)) < seconds);
    QVERIFY(ToQuillTime(COleDateTime(local.GetYear(), local.GetMonth(), local.GetDay(), 3, 0, 0)) > seconds);
}

void TestQuillTime::everySecondsValueSurvivesARoundTrip_data()
{
    QTest::addColumn<qint32>("seconds");
    QTest::newRow("earliest") << std::numeric_limits<qint32>::min();
    QTest::newRow("minus one") << qint32(-1);
    QTest::newRow("zero") << qint32(0);
    QTest::newRow("first of the repeated hour") << qint32(utcSeconds(2026, 10, 25, 0, 30, 0));
    QTest::newRow("latest") << std::numeric_limits<qint32>::max();
}

void TestQuillTime::everySecondsValueSurvivesARoundTrip()
{
    QFETCH(qint32, seconds);
    const COleDateTime local = FromQuillTime(seconds);
    QVERIFY(!local.IsZero());
    // In the repeated hour the local text cannot say which of the two is meant, so
    // the value may come back one hour later; everywhere else it is exact.
    const qint64 back = ToQuillTime(local);
    QVERIFY2(back == seconds || back == qint64(seconds) + 3600, qPrintable(QString::number(back)));
}

QTEST_GUILESS_MAIN(TestQuillTime)
#include "test_quill_time.moc"
