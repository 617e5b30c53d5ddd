#include "tap/TapBlock.h"

#include <QTest>

class TestTapBlock : public QObject
{
    Q_OBJECT

private slots:
    void checksumOfBlock_data();
    void checksumOfBlock();
    void checksumOfRawBytes_data();
    void checksumOfRawBytes();
    void blockBytes_data();
    void blockBytes();
    void fixedSequences_data();
    void fixedSequences();
    void oversizedFields_data();
    void oversizedFields();
};

void TestTapBlock::checksumOfBlock_data()
{
    QTest::addColumn<QByteArray>("pagerId");
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("checksum");

    QTest::newRow("ABC, sum 379") << QByteArray("123") << QByteArray("ABC") << QByteArray("17;");
    QTest::newRow("abc, sum 475") << QByteArray("123") << QByteArray("abc") << QByteArray("1=;");
    QTest::newRow("empty text, sum 181") << QByteArray("123") << QByteArray() << QByteArray("0;5");
    QTest::newRow("255 z, sum 31291 keeps low 12 bits")
        << QByteArray("123") << QByteArray(255, 'z') << QByteArray(":3;");
    QTest::newRow("0xA3 counts as -93, sum 220") << QByteArray("123")
                                                 << QByteArray("A\xA3"
                                                               "C")
                                                 << QByteArray("0=<");
    QTest::newRow("negative sum -61") << QByteArray() << QByteArray(4, '\xE9') << QByteArray("?<3");
}

void TestTapBlock::checksumOfBlock()
{
    QFETCH(QByteArray, pagerId);
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, checksum);

    const QByteArray block = FormatBlock(pagerId, text);
    QCOMPARE(block.size(), pagerId.size() + text.size() + 8);
    QCOMPARE(block.mid(block.size() - 4, 3), checksum);
    QCOMPARE(TapChecksum(block.left(block.size() - 4)), checksum);
}

void TestTapBlock::checksumOfRawBytes_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("checksum");

    QTest::newRow("nothing") << QByteArray() << QByteArray("000");
    QTest::newRow("sum 4095") << QByteArray(32, '\x7F') + '\x1F' << QByteArray("???");
    QTest::newRow("sum 4096 wraps to zero") << QByteArray(32, '\x7F') + ' ' << QByteArray("000");
    QTest::newRow("sum -1") << QByteArray(1, '\xFF') << QByteArray("???");
    QTest::newRow("sum -128") << QByteArray(1, '\x80') << QByteArray("?80");
    QTest::newRow("sum -4096") << QByteArray(32, '\x80') << QByteArray("000");
    QTest::newRow("0xA3 is -93, not 163") << QByteArray(1, '\xA3') << QByteArray("?:3");
}

void TestTapBlock::checksumOfRawBytes()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, checksum);
    QCOMPARE(TapChecksum(bytes), checksum);
}

void TestTapBlock::blockBytes_data()
{
    QTest::addColumn<QByteArray>("pagerId");
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("block");

    QTest::newRow("the 14-byte block") << QByteArray("123") << QByteArray("ABC")
                                       << QByteArray::fromHex("02313233 0D 414243 0D 03 31373B 0D");
    QTest::newRow("empty text keeps both CRs")
        << QByteArray("123") << QByteArray() << QByteArray::fromHex("02313233 0D 0D 03 303B35 0D");
    QTest::newRow("empty identifier") << QByteArray() << QByteArray(4, '\xE9')
                                      << QByteArray::fromHex("02 0D E9E9E9E9 0D 03 3F3C33 0D");
    QTest::newRow("control characters and = sent unchanged")
        << QByteArray("9") << QByteArray("a=b\x03\r\x06")
        << QByteArray("\x02"
                      "9\ra=b\x03\r\x06\r\x03")
            + TapChecksum(QByteArray("\x02"
                                     "9\ra=b\x03\r\x06\r\x03"))
            + '\r';
    QTest::newRow("text ends at its first zero byte")
        << QByteArray("123") << QByteArray("ABC\0DEF", 7)
        << QByteArray::fromHex("02313233 0D 414243 0D 03 31373B 0D");
    QTest::newRow("identifier ends at its first zero byte") << QByteArray("123\0"
                                                                          "99",
        6) << QByteArray("ABC") << QByteArray::fromHex("02313233 0D 414243 0D 03 31373B 0D");
}

void TestTapBlock::blockBytes()
{
    QFETCH(QByteArray, pagerId);
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, block);
    QCOMPARE(FormatBlock(pagerId, text), block);
}

void TestTapBlock::fixedSequences_data()
{
    QTest::addColumn<QByteArray>("sequence");
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("wake-up") << TapWakeUpSequence() << QByteArray::fromHex("0D");
    QTest::newRow("login") << TapLoginSequence() << QByteArray::fromHex("1B5047310D");
    QTest::newRow("logout") << TapLogoutSequence() << QByteArray::fromHex("040D");
    QTest::newRow("ID prompt") << TapIdPromptPattern() << QByteArray::fromHex("49443D");
    QTest::newRow("ACK") << TapAckPattern() << QByteArray::fromHex("06");
    QTest::newRow("NAK") << TapNakPattern() << QByteArray::fromHex("15");
    QTest::newRow("go-ahead") << TapGoAheadPattern() << QByteArray::fromHex("1B5B70");
}

void TestTapBlock::fixedSequences()
{
    QFETCH(QByteArray, sequence);
    QFETCH(QByteArray, bytes);
    QCOMPARE(sequence, bytes);
}

void TestTapBlock::oversizedFields_data()
{
    QTest::addColumn<int>("pagerIdLength");
    QTest::addColumn<int>("textLength");
    QTest::addColumn<int>("keptPagerId");
    QTest::addColumn<int>("keptText");

    QTest::newRow("1015 bytes fit exactly") << 15 << 1000 << 15 << 1000;
    QTest::newRow("1016 bytes lose the last text byte") << 15 << 1001 << 15 << 1000;
    QTest::newRow("far too long text") << 7 << 5000 << 7 << 1008;
    QTest::newRow("identifier alone fills the room") << 1015 << 10 << 1015 << 0;
    QTest::newRow("identifier alone too long") << 1200 << 10 << 1015 << 0;
}

void TestTapBlock::oversizedFields()
{
    QFETCH(int, pagerIdLength);
    QFETCH(int, textLength);
    QFETCH(int, keptPagerId);
    QFETCH(int, keptText);

    QByteArray pagerId(pagerIdLength, '7');
    QByteArray text(textLength, 'm');
    // The kept part must be the beginning of each field.
    text[0] = 'M';
    const QByteArray block = FormatBlock(pagerId, text);

    const QByteArray expectedBody = QByteArray(1, '\x02') + pagerId.left(keptPagerId) + '\r'
        + text.left(keptText) + '\r' + '\x03';
    QCOMPARE(block.size(), keptPagerId + keptText + 8);
    QVERIFY(block.size() < kTapBlockBufferSize);
    QCOMPARE(block.left(expectedBody.size()), expectedBody);
    QCOMPARE(block.mid(expectedBody.size()), TapChecksum(expectedBody) + '\r');
}

QTEST_GUILESS_MAIN(TestTapBlock)
#include "TestTapBlock.moc"
