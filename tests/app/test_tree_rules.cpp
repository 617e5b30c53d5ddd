#include "app/TreeRules.h"

#include <QTest>

class TestTreeRules : public QObject
{
    Q_OBJECT

private slots:
    void shortMessageText_data();
    void shortMessageText();
    void contextEntryEnabled_data();
    void contextEntryEnabled();
};

void TestTreeRules::shortMessageText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("shown");

    const QString alphabet = "abcdefghijklmnopqrstuvwxyz0123456789";
    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("short") << "Meet at six"
                           << "Meet at six";
    QTest::newRow("29 characters, whole") << alphabet.left(29) << alphabet.left(29);
    QTest::newRow("30 characters, cut") << alphabet.left(30) << alphabet.left(27) + "...";
    QTest::newRow("31 characters, cut") << alphabet.left(31) << alphabet.left(27) + "...";
    QTest::newRow("240 characters, cut")
        << QString(240, QChar('x')) << QString(27, QChar('x')) + "...";
    QTest::newRow("30 characters ending in dots")
        << QString(26, QChar('y')) + "...." << QString(26, QChar('y')) + "....";
    // A character outside the basic plane takes two UTF-16 units; it is never halved.
    const QString emoji = QString::fromUtf8("\xF0\x9F\x98\x80");
    QTest::newRow("cut falls inside a two-unit character")
        << QString(26, QChar('a')) + emoji + "bc" << QString(26, QChar('a')) + "...";
}

void TestTreeRules::shortMessageText()
{
    QFETCH(QString, text);
    QFETCH(QString, shown);
    QCOMPARE(TreeRules::ShortMessageText(text), shown);
}

void TestTreeRules::contextEntryEnabled_data()
{
    QTest::addColumn<int>("position");
    QTest::addColumn<bool>("onCategory");
    QTest::addColumn<bool>("handlerAvailable");
    QTest::addColumn<bool>("enabled");

    QTest::newRow("category, New") << 0 << true << true << true;
    QTest::newRow("category, second entry") << 1 << true << true << false;
    QTest::newRow("category, third entry") << 2 << true << true << false;
    QTest::newRow("record, New") << 0 << false << true << true;
    QTest::newRow("record, second entry") << 1 << false << true << true;
    QTest::newRow("record, third entry") << 2 << false << true << true;
    QTest::newRow("category, New without handler") << 0 << true << false << false;
    QTest::newRow("record, second entry without handler") << 1 << false << false << false;
}

void TestTreeRules::contextEntryEnabled()
{
    QFETCH(int, position);
    QFETCH(bool, onCategory);
    QFETCH(bool, handlerAvailable);
    QFETCH(bool, enabled);
    QCOMPARE(TreeRules::ContextEntryEnabled(position, onCategory, handlerAvailable), enabled);
}

QTEST_GUILESS_MAIN(TestTreeRules)
#include "test_tree_rules.moc"
