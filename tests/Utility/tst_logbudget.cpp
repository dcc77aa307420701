#include "TestFiles.h"

#include "Utility/LogBudget.h"

#include <QDir>
#include <QtTest>

class TestLogBudget : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void oldAndOverBudgetFoldersGoOldestFirst_data();
    void oldAndOverBudgetFoldersGoOldestFirst();
};

void TestLogBudget::oldAndOverBudgetFoldersGoOldestFirst_data()
{
    // "a=24/100": a dump folder named as the logger names it, 24 hours old, holding 100 KiB; "*" the current run's.
    QTest::addColumn<QString>("folders");
    QTest::addColumn<int>("budgetKiB");
    QTest::addColumn<int>("keepDays");
    QTest::addColumn<QString>("left");
    QTest::newRow("older than the days") << "a=24/10 b=200/10 c=400/10" << 0 << 14 << "a b";
    QTest::newRow("oldest first until within") << "a=1/100 b=2/100 c=3/100 d=4/100" << 250 << 0 << "a b";
    QTest::newRow("exactly the budget stays") << "a=1/100 b=2/100" << 200 << 0 << "a b";
    QTest::newRow("the current run's never goes") << "a=1/100 b*=50/300" << 200 << 0 << "b";
    QTest::newRow("current and old") << "a*=400/10 b=500/10" << 0 << 14 << "a";
    // The pass runs on 2 January: 30 December sorts after 1 January by name.
    QTest::newRow("age, not name, across a year") << "jan=24/100 dec=72/100" << 150 << 0 << "jan";
    QTest::newRow("days then budget") << "a=1/100 b=2/100 c=400/10" << 150 << 14 << "a";
    QTest::newRow("no limits") << "a=1/10 b=1000/10" << 0 << 0 << "a b";
}

void TestLogBudget::oldAndOverBudgetFoldersGoOldestFirst()
{
    QFETCH(QString, folders);
    QFETCH(int, budgetKiB);
    QFETCH(int, keepDays);
    QFETCH(QString, left);
    const QDateTime now(QDate(2027, 1, 2), QTime(12, 0, 0));
    QTemporaryDir work;
    const QString root = work.path() + "/logs/";
    QMap<QString, QString> names;
    QString current;
    qint64 before = 0;
    for (const QString& entry : folders.split(' ')) {
        const QString label = entry.section('=', 0, 0).remove('*');
        const int kib = entry.section('/', 1).toInt();
        const QDateTime stamp = now.addSecs(-3600 * entry.section('=', 1).section('/', 0, 0).toInt());
        names[label] = root + "PXL_Dump_" + stamp.toString("MM-dd-yyyy-HH-mm-ss");
        // Half in a folder of its own, as the engine's cut logs are.
        QVERIFY(TestFiles::WriteFile(names[label] + "/Praxilo_TOOL.log", QByteArray(kib * 512, 'x')));
        QVERIFY(TestFiles::WriteFile(names[label] + "/Engine.1/quillon_engine.log", QByteArray(kib * 512, 'y')));
        current = entry.contains('*') ? names[label] : current;
        before += kib * 1024;
    }
    // Not the logger's: never counted nor removed, and a link is never followed.
    QVERIFY(TestFiles::WriteFile(root + "PXL_Dump_notes/keep.txt", QByteArray(4096, 'n')));
    QVERIFY(TestFiles::WriteFile(work.path() + "/elsewhere/big.bin", QByteArray(1024 * 1024, 'b')));
    QVERIFY(QFile::link(work.path() + "/elsewhere", root + "PXL_Dump_01-01-2020-00-00-00"));
    QVERIFY(TestFiles::WriteFile(root + "Station/station.db", QByteArray(8192, 's')));

    const LogBudgetPass pass = LogBudget::Apply(root, current, {int64_t(budgetKiB) * 1024, keepDays}, now);

    QStringList kept;
    for (auto named = names.cbegin(); named != names.cend(); ++named) {
        if (QFileInfo(named.value()).isDir())
            kept << named.key();
    }
    QCOMPARE(kept.join(' '), left);
    QCOMPARE(pass.removed, names.size() - kept.size());
    QCOMPARE(pass.failed, 0);
    QCOMPARE(pass.bytesBefore, before);
    QCOMPARE(pass.bytesAfter, FileUtils::TreeBytes(root) - 4096 - 8192);
    QCOMPARE(FileUtils::TreeBytes(work.path() + "/elsewhere") + QFileInfo(root + "PXL_Dump_01-01-2020-00-00-00").isSymLink(),
             1024 * 1024 + 1);
    QVERIFY(QFileInfo(root + "PXL_Dump_notes/keep.txt").isFile() && QFileInfo(root + "Station/station.db").isFile());
    QCOMPARE(LogBudget::FolderStamp("PXL_Dump_ab12-06-2026-13-05-09"), QDateTime());
}

QTEST_GUILESS_MAIN(TestLogBudget)
#include "tst_logbudget.moc"
