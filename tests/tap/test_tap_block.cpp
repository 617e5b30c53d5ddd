#include "tap/TapBlock.h"

#include <QTest>

namespace {

// STX, identifier, CR, text, CR, ETX, the three checksum characters, CR.
QByteArray Block(const QByteArray& pagerId, const QByteArray& text, const char* checksum)
{
    return '\x02' + pagerId + '\r' + text + "\r\x03" + checksum + '\r';
}

} // namespace

class TestTapBlock : public QObject
{
    Q_OBJECT

private slots:
    void formatBlock_data()
    {
        QTest::addColumn<QByteArray>("pagerId");
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("block");

        const auto row
            = [](const char* name, const QByteArray& pagerId, const QByteArray& text,
                  const QByteArray& block) { QTest::newRow(name) << pagerId << text << block; };
        const QByteArray zs(255, 'z');
        const QByteArray e9s(4, '\xE9');
        const QByteArray fourteen = QByteArray::fromHex("02313233 0D 414243 0D 03 31373B 0D");
        row("the 14-byte block, sum 379", "123", "ABC", fourteen);
        row("empty text, sum 181", "123", {}, Block("123", "", "0;5"));
        row("sum 31291 over 4095", "123", zs, Block("123", zs, ":3;"));
        row("0xA3 counts as -93", "123", "A\xA3\x43", Block("123", "A\xA3\x43", "0=<"));
        row("negative sum -61", {}, e9s, Block("", e9s, "?<3"));
        row("control bytes sent as they are", "9", "a=b\x03\r\x06",
            Block("9", "a=b\x03\r\x06", "16>"));
        row("text ends at a zero byte", "123", QByteArray("ABC\0DEF", 7), fourteen);
        // Identifier and text together never exceed 1015 bytes: the text is cut first.
        const QByteArray id15(15, '7');
        const QByteArray m1000(1000, 'm');
        row("1015 bytes fit exactly", id15, m1000, Block(id15, m1000, "=20"));
        row("1016 bytes lose the last text byte", id15, m1000 + 'x', Block(id15, m1000, "=20"));
        row("identifier alone too long", QByteArray(1200, '7'), "text",
            Block(QByteArray(1015, '7'), "", ":30"));
        row("identifier ends at a zero byte", QByteArray("123\00099", 6), "ABC", fourteen);
    }

    void formatBlock()
    {
        QFETCH(QByteArray, pagerId);
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, block);
        QCOMPARE(FormatBlock(pagerId, text), block);
        QCOMPARE(TapChecksum(block.chopped(4)), block.right(4).left(3));
    }
};

QTEST_GUILESS_MAIN(TestTapBlock)
#include "test_tap_block.moc"
