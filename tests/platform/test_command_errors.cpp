// An operator's command run through RunReportingErrors: a failure leaving it is shown
// once and ends only that command.
#include "PresetPrompt.h"
#include "TempDatabase.h"
#include "data/Recordsets.h"
#include "platform/CommandErrors.h"
#include "platform/db/DaoException.h"

#include <QTest>
#include <stdexcept>

class TestCommandErrors : public QObject
{
    Q_OBJECT

private slots:
    void failureIsShownOnce_data()
    {
        QTest::addColumn<QString>("failure");
        QTest::addColumn<QString>("said"); // in the one message shown; empty when none is
        const auto row = [](const char* name, const char* failure, const char* said) {
            QTest::newRow(name) << QString(failure) << QString(said);
        };
        row("completes", "", "");
        row("record set on a missing file", "open", "Quillpost.mdb does not exist");
        row("database exception", "dao", "Cannot add a row to table Messages: locked");
        row("other exception", "std", "Disk quota exceeded");
    }

    void failureIsShownOnce()
    {
        QFETCH(QString, failure);
        QFETCH(QString, said);
        const TempDatabase folder(TempDatabase::Content::NoFile);
        PresetPrompt prompt;
        bool ranToItsEnd = false;
        const bool completed = RunReportingErrors([&] {
            CMessagesRecordset messages;
            if (failure == "open")
                messages.Open();
            if (failure == "dao")
                throw CDaoException(CDaoException::Kind::Locked, said);
            if (failure == "std")
                throw std::runtime_error(said.toStdString());
            ranToItsEnd = true;
        });
        QCOMPARE(completed, ranToItsEnd);
        QCOMPARE(completed, said.isEmpty());
        QCOMPARE(prompt.shown.size(), completed ? 0 : 1);
        QVERIFY2(prompt.shown.join('|').contains(said), qPrintable(prompt.shown.join('|')));
    }
};

QTEST_GUILESS_MAIN(TestCommandErrors)
#include "test_command_errors.moc"
