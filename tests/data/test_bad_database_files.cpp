#include "PresetPrompt.h"
#include "ReliabilityFigures.h"
#include "TempDatabase.h"
#include "TempSettings.h"
#include "app/QuillpostApp.h"
#include "data/QuillpostDoc.h"
#include "dispatch/MessageQueue.h"
#include "dispatch/SendOrder.h"
#include "platform/db/DaoException.h"

#include <QCryptographicHash>
#include <QFile>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTest>

// Files the program may be pointed at by mistake or find damaged: it says so at most
// once, keeps what it could read, never crashes, and leaves a file it does not
// understand exactly as it was.
namespace {

const QString kLoadFailed
    = QStringLiteral("Unable to open database properly - check database is in working directory");

enum class Damage
{
    EmptyFile,
    RandomBytes,
    JetFile,
    OtherProgramsDatabase,
    MessagesTableMissing,
    ProviderColumnMissing,
    TextInLongColumn,
    NumberBeyond32Bits,
    NullInEveryColumn,
    TextOver255,
    DatesOutOfRange,
    UnparseableDate,
};

void WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

void ExecUnchecked(const QString& path, const QString& sql)
{
    {
        QSqlDatabase database = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("unchecked"));
        database.setDatabaseName(path);
        QSqlQuery query(database);
        if (!database.open() || !query.exec(QStringLiteral("PRAGMA ignore_check_constraints = 1"))
            || !query.exec(sql))
            qFatal("%s", qPrintable(query.lastError().text()));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("unchecked"));
}

// Two users with a message each, one group and two providers: what the damage spoils.
void AddRows(const TempDatabase& db)
{
    for (int user : { 1, 2 })
        db.addMessageRow(db.addUser(QStringLiteral("User %1").arg(user), QStringLiteral("100%1").arg(user)),
            user, QStringLiteral("Theatre 3 ready"));
    db.addGroup(QStringLiteral("Porters"));
    db.addProvider(QStringLiteral("North"), QStringLiteral("5550100"), 1);
    db.addProvider(QStringLiteral("South"), QStringLiteral("5550200"));
}

void Spoil(const TempDatabase& db, Damage damage)
{
    QByteArray jet(2048, '\0');
    jet.replace(0, 4, QByteArray("\x00\x01\x00\x00", 4));
    jet.replace(4, 15, "Standard Jet DB");
    QByteArray random(4096, '\0');
    QRandomGenerator generator(1994);
    generator.fillRange(reinterpret_cast<quint32*>(random.data()), random.size() / 4);

    switch (damage) {
    case Damage::EmptyFile:
        return WriteFile(db.filePath(), {});
    case Damage::RandomBytes:
        return WriteFile(db.filePath(), random);
    case Damage::JetFile:
        return WriteFile(db.filePath(), jet);
    case Damage::OtherProgramsDatabase:
        for (const char* table : { "Messages", "Users", "Groups", "ServiceProviders", "SendLog" })
            db.exec(QStringLiteral("DROP TABLE %1").arg(QLatin1String(table)));
        return db.exec(QStringLiteral("CREATE TABLE Notes (ID INTEGER PRIMARY KEY, Body TEXT)"));
    case Damage::MessagesTableMissing:
        AddRows(db);
        return db.exec(QStringLiteral("DROP TABLE Messages"));
    case Damage::ProviderColumnMissing:
        AddRows(db);
        return db.exec(QStringLiteral("ALTER TABLE ServiceProviders DROP COLUMN TAPType"));
    case Damage::TextInLongColumn:
        AddRows(db);
        return db.exec(QStringLiteral("UPDATE Users SET PreferredProvider = 'north' WHERE ID = 2"));
    case Damage::NumberBeyond32Bits:
        AddRows(db);
        return db.exec(QStringLiteral("UPDATE Messages SET Recipient = 99999999999 WHERE ID = 2"));
    case Damage::NullInEveryColumn:
        for (const char* table : { "Users", "Groups", "Messages", "ServiceProviders" })
            db.exec(QStringLiteral("INSERT INTO %1 (ID) VALUES (NULL)").arg(QLatin1String(table)));
        return;
    case Damage::TextOver255:
        AddRows(db);
        // As in a file made by another tool, without the length check the program's own
        // files carry.
        return ExecUnchecked(db.filePath(),
            QStringLiteral("UPDATE Messages SET Text = '%1' WHERE ID = 1").arg(QString(1000, 'x')));
    case Damage::DatesOutOfRange:
        AddRows(db);
        db.exec(QStringLiteral("UPDATE Messages SET RequiredSendTime = '9999-12-31 23:59:59' WHERE ID = 1"));
        return db.exec(QStringLiteral("UPDATE Messages SET SendTime = '1601-01-01 00:00:00' WHERE ID = 2"));
    case Damage::UnparseableDate:
        AddRows(db);
        return db.exec(QStringLiteral("UPDATE Messages SET RequestTime = 'next Tuesday' WHERE ID = 2"));
    }
}

// The file's bytes and those of the files SQLite keeps beside it.
QByteArray Fingerprint(const QString& path)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    for (const QString& name : { path, path + QStringLiteral("-wal"), path + QStringLiteral("-journal") }) {
        QFile file(name);
        hash.addData(name.toUtf8());
        if (file.open(QIODevice::ReadOnly))
            hash.addData(file.readAll());
    }
    return hash.result();
}

QList<int> Sizes(const CQuillpostDoc& doc)
{
    return { int(doc.m_users.size()), int(doc.m_groups.size()), int(doc.m_messages.size()),
        int(doc.m_providers.size()) };
}

} // namespace

Q_DECLARE_METATYPE(Damage)

class TestBadDatabaseFiles : public QObject
{
    Q_OBJECT

private slots:
    void documentKeepsWhatItCouldRead_data();
    void documentKeepsWhatItCouldRead();
    void programStartsOnAFileItCannotRead_data();
    void programStartsOnAFileItCannotRead();
    void cleanupTestCase();

private:
    int m_filesTried = 0;
};

void TestBadDatabaseFiles::documentKeepsWhatItCouldRead_data()
{
    QTest::addColumn<Damage>("damage");
    QTest::addColumn<QList<int>>("sizes"); // users, groups, messages, providers
    QTest::addColumn<bool>("complains");
    QTest::addColumn<bool>("understood"); // may be written to

    QTest::newRow("empty file") << Damage::EmptyFile << QList<int> { 0, 0, 0, 0 } << true << false;
    QTest::newRow("random bytes") << Damage::RandomBytes << QList<int> { 0, 0, 0, 0 } << true << false;
    QTest::newRow("Jet/Access file") << Damage::JetFile << QList<int> { 0, 0, 0, 0 } << true << false;
    QTest::newRow("another program's database")
        << Damage::OtherProgramsDatabase << QList<int> { 0, 0, 0, 0 } << true << false;
    QTest::newRow("Messages table missing")
        << Damage::MessagesTableMissing << QList<int> { 2, 1, 0, 0 } << true << false;
    QTest::newRow("provider column missing")
        << Damage::ProviderColumnMissing << QList<int> { 2, 1, 2, 0 } << true << false;
    QTest::newRow("text in a Long column")
        << Damage::TextInLongColumn << QList<int> { 1, 0, 0, 0 } << true << true;
    QTest::newRow("number beyond 32 bits")
        << Damage::NumberBeyond32Bits << QList<int> { 2, 1, 1, 0 } << true << true;
    QTest::newRow("NULL in every column")
        << Damage::NullInEveryColumn << QList<int> { 1, 1, 1, 1 } << false << true;
    QTest::newRow("Text over 255 characters")
        << Damage::TextOver255 << QList<int> { 2, 1, 2, 2 } << false << true;
    QTest::newRow("dates out of range")
        << Damage::DatesOutOfRange << QList<int> { 2, 1, 2, 2 } << false << true;
    QTest::newRow("unparseable date")
        << Damage::UnparseableDate << QList<int> { 2, 1, 1, 0 } << true << true;
}

// Loads, lets the scheduler look, reloads as the scheduler does when nothing changed,
// and tries to queue a message.
void TestBadDatabaseFiles::documentKeepsWhatItCouldRead()
{
    QFETCH(Damage, damage);
    QFETCH(QList<int>, sizes);
    QFETCH(bool, complains);
    QFETCH(bool, understood);
    TempDatabase db;
    Spoil(db, damage);
    const QByteArray before = Fingerprint(db.filePath());
    PresetPrompt prompt;

    CQuillpostDoc doc;
    doc.ReloadAll();
    QCOMPARE(Sizes(doc), sizes);
    ChooseDueSend(doc);
    QVERIFY(!doc.ReloadIfChanged());
    QCOMPARE(prompt.shown, complains ? QStringList { kLoadFailed } : QStringList {});

    bool queued = true;
    try {
        QueueMessage(QStringLiteral("Call theatre 3"), COleDateTime(2026, 1, 1, 0, 0, 0), { 1 });
    } catch (const CDaoException& failure) {
        queued = false;
        QVERIFY(!failure.reason().isEmpty());
    }
    if (!understood) {
        QVERIFY(!queued);
        QCOMPARE(Fingerprint(db.filePath()), before);
    }
    ++m_filesTried;
}

void TestBadDatabaseFiles::programStartsOnAFileItCannotRead_data()
{
    QTest::addColumn<Damage>("damage");
    QTest::newRow("empty file") << Damage::EmptyFile;
    QTest::newRow("Jet/Access file") << Damage::JetFile;
    QTest::newRow("Messages table missing") << Damage::MessagesTableMissing;
}

// The desktop program starts, shows the load message once however often its scheduler
// runs, and keeps its hands off the file.
void TestBadDatabaseFiles::programStartsOnAFileItCannotRead()
{
    QFETCH(Damage, damage);
    TempSettings settings;
    TempDatabase db;
    Spoil(db, damage);
    const QByteArray before = Fingerprint(db.filePath());
    PresetPrompt prompt;
    {
        CQuillpostApp app;
        QVERIFY(app.InitInstance());
        for (int run = 0; run < 3; ++run)
            app.RunScheduler();
        QVERIFY(!app.m_bSendInProgress);
    }
    QCOMPARE(prompt.shown, QStringList { kLoadFailed });
    QCOMPARE(Fingerprint(db.filePath()), before);
    ++m_filesTried;
}

void TestBadDatabaseFiles::cleanupTestCase()
{
    RecordReliabilityFigures({ { QStringLiteral("badFiles"), m_filesTried } });
}

QTEST_MAIN(TestBadDatabaseFiles)
#include "test_bad_database_files.moc"
