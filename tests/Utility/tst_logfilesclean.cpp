#include "NewLogText.h"
#include "TestFiles.h"

#include "Utility/LogCleaner.h"
#include "Utility/LogFilesClean.h"
#include "logging/Logger.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QPointer>
#include <QtTest>

#include <memory>

using TestFiles::ReadFile;
using TestFiles::WriteFile;

namespace {

const QString kStampFormat = QStringLiteral("MM-dd-yyyy-HH-mm-ss");
const QDateTime kNow(QDate(2023, 4, 12), QTime(10, 0, 0));

QDateTime FixedNow()
{
    return kNow;
}

// "PXL_Dump_" and two characters before the time stamp: the names whose date the cleaner can read.
QString Dated(const QDateTime& stamp)
{
    return "PXL_Dump_ab" + stamp.toString(kStampFormat);
}

// Named the way the logger names a run's folder: the date starts two characters early and cannot be read.
QString LoggerNamed(const QDateTime& stamp)
{
    return "PXL_Dump_" + stamp.toString(kStampFormat);
}

QString LogFilePath()
{
    return QString::fromLocal8Bit(Logger::Instance().GetDumpFolder()) + "/Praxilo_TOOL.log";
}

QByteArray DeletingLine(const QString& path)
{
    return "LogCleanThread::run(): Deleting " + QDir::toNativeSeparators(path).toLocal8Bit() +
           "(LogFilesClean,";
}

QByteArray FailedLine(const QString& name)
{
    return "LogCleanThread::run(): Failed to remove folder \"" + name.toLocal8Bit() + "\".(LogFilesClean,";
}

bool MakeDump(const QString& path, int files = 1)
{
    bool made = QDir().mkpath(path);
    for (int i = 0; made && i < files; ++i) {
        made = WriteFile(QStringLiteral("%1/f%2").arg(path).arg(i, 5, 10, QChar('0')), "log");
    }
    return made;
}

int CountFiles(const QString& path)
{
    int count = 0;
    for (QDirIterator it(path, QDir::Files, QDirIterator::Subdirectories); it.hasNext(); it.next()) {
        ++count;
    }
    return count;
}

bool RunPass(const QString& folder, const QString& period, const QString& keep = {})
{
    LogCleanThread thread(folder, CleanPeriodToHours(period, kNow), keep, FixedNow);
    thread.start();
    return thread.wait(120000);
}

} // namespace

class TestLogFilesClean : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void periodOffsets_data();
    void periodOffsets();
    void entryKeptOrRemoved_data();
    void entryKeptOrRemoved();
    void currentRunFolderSurvives_data();
    void currentRunFolderSurvives();
    void linkToAnOutsideFolderGoesAsALink();
    void missingOrUnnamedFolderTouchesNothing_data();
    void missingOrUnnamedFolderTouchesNothing();
    void entriesGoInReverseNameOrder();
    void startedCleanerDeletesItselfOnceDone();
    void twoCleanersAtOnceBothEndWithoutError();
    void closingWhileACleanerWalksALargeFolderStopsIt();
    void clearAllLogsCleansTheLogRootButTheCurrentRun();

private:
    QString work;
    int caseNumber = 0;
};

void TestLogFilesClean::initTestCase()
{
    const QString xdg = QDir::current().absoluteFilePath("xdg");
    QDir(xdg).removeRecursively();
    qputenv("XDG_DATA_HOME", QFile::encodeName(xdg));
    // The engine is not started here, so only the log file matters.
    Logger::Instance().StartLogging();
    QVERIFY(QFileInfo(LogFilePath()).isFile());
}

void TestLogFilesClean::init()
{
    work = QDir::current().absoluteFilePath(QString("case-%1").arg(++caseNumber));
    QDir(work).removeRecursively();
    QVERIFY(QDir().mkpath(work));
}

void TestLogFilesClean::periodOffsets_data()
{
    QTest::addColumn<QString>("period");
    QTest::addColumn<QDateTime>("now");
    QTest::addColumn<qint64>("hours");

    const QDateTime march15(QDate(2023, 3, 15), QTime(12, 0));
    QTest::newRow("Daily") << "Daily" << march15 << qint64(-24);
    QTest::newRow("Weekly") << "Weekly" << march15 << qint64(-7 * 24);
    QTest::newRow("Monthly after February") << "Monthly" << march15 << qint64(-28 * 24);
    QTest::newRow("Monthly after a leap February")
        << "Monthly" << QDateTime(QDate(2024, 3, 15), QTime(12, 0)) << qint64(-29 * 24);
    QTest::newRow("Monthly after July")
        << "Monthly" << QDateTime(QDate(2023, 8, 15), QTime(0, 0)) << qint64(-31 * 24);
    QTest::newRow("Monthly from the 31st of March")
        << "Monthly" << QDateTime(QDate(2023, 3, 31), QTime(8, 0)) << qint64(-31 * 24);
    QTest::newRow("Three Month over February")
        << "Three Month" << QDateTime(QDate(2023, 5, 15), QTime(1, 0)) << qint64(-89 * 24);
    QTest::newRow("Three Month over July and August")
        << "Three Month" << QDateTime(QDate(2023, 8, 31), QTime(1, 0)) << qint64(-92 * 24);
    QTest::newRow("a second before midnight")
        << "Daily" << QDateTime(QDate(2023, 3, 15), QTime(23, 59, 59, 999)) << qint64(-24);
    QTest::newRow("unknown text as Daily") << "Fortnightly" << march15 << qint64(-24);
    QTest::newRow("empty text as Daily") << QString() << march15 << qint64(-24);
    QTest::newRow("names are case-sensitive") << "weekly" << march15 << qint64(-24);
}

void TestLogFilesClean::periodOffsets()
{
    QFETCH(QString, period);
    QFETCH(QDateTime, now);
    QFETCH(qint64, hours);
    QCOMPARE(CleanPeriodToHours(period, now), hours);
}

void TestLogFilesClean::entryKeptOrRemoved_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("period");
    QTest::addColumn<bool>("attempted");
    QTest::addColumn<bool>("removed");

    const QString old = Dated(kNow.addDays(-2));
    QTest::newRow("two days old, Daily") << old << "dir"
                                         << "Daily" << true << true;
    QTest::newRow("two days old, Weekly") << old << "dir"
                                          << "Weekly" << false << false;
    QTest::newRow("eight days old, Weekly") << Dated(kNow.addDays(-8)) << "dir"
                                            << "Weekly" << true << true;
    QTest::newRow("at the cut-off") << Dated(kNow.addDays(-1)) << "dir"
                                    << "Daily" << true << true;
    QTest::newRow("a second after the cut-off") << Dated(kNow.addDays(-1).addSecs(1)) << "dir"
                                                << "Daily" << false << false;
    QTest::newRow("twenty days old, Monthly") << Dated(kNow.addDays(-20)) << "dir"
                                              << "Monthly" << false << false;
    QTest::newRow("forty days old, Monthly") << Dated(kNow.addDays(-40)) << "dir"
                                             << "Monthly" << true << true;
    QTest::newRow("eighty days old, Three Month") << Dated(kNow.addDays(-80)) << "dir"
                                                  << "Three Month" << false << false;
    QTest::newRow("a hundred days old, Three Month") << Dated(kNow.addDays(-100)) << "dir"
                                                     << "Three Month" << true << true;
    QTest::newRow("a future date") << Dated(kNow.addDays(3)) << "dir"
                                   << "Daily" << false << false;
    QTest::newRow("named as the logger names it, made now") << LoggerNamed(kNow) << "dir"
                                                            << "Weekly" << true << true;
    QTest::newRow("no readable date") << "PXL_Dump_abnot-a-date"
                                      << "dir"
                                      << "Three Month" << true << true;
    QTest::newRow("the prefix alone") << "PXL_Dump_"
                                      << "dir"
                                      << "Daily" << true << true;
    QTest::newRow("an unknown period as Daily, two days") << old << "dir"
                                                          << "Fortnightly" << true << true;
    QTest::newRow("an unknown period as Daily, twenty hours") << Dated(kNow.addSecs(-20 * 3600)) << "dir"
                                                              << "Fortnightly" << false << false;
    QTest::newRow("another prefix") << "Old_Dump_ab" + old.mid(11) << "dir"
                                    << "Daily" << false << false;
    QTest::newRow("lower case") << "pxl_dump_x"
                                << "dir"
                                << "Daily" << false << false;
    QTest::newRow("lower case with an old date") << old.toLower() << "dir"
                                                 << "Daily" << false << false;
    QTest::newRow("a plain file stays, and says so") << old << "file"
                                                     << "Daily" << true << false;
    QTest::newRow("a dangling link") << old << "dangling"
                                     << "Daily" << true << true;
}

void TestLogFilesClean::entryKeptOrRemoved()
{
    QFETCH(QString, name);
    QFETCH(QString, kind);
    QFETCH(QString, period);
    QFETCH(bool, attempted);
    QFETCH(bool, removed);

    const QString entry = work + "/" + name;
    if (kind == "dir") {
        QVERIFY(MakeDump(entry, 3));
    } else if (kind == "file") {
        QVERIFY(WriteFile(entry, "plain"));
    } else {
        QVERIFY(QFile::link(work + "/nowhere", entry));
    }
    QVERIFY(WriteFile(work + "/notes.txt", "bystander"));

    const NewLogText log(LogFilePath());
    QVERIFY(RunPass(work, period));

    const QFileInfo after(entry);
    QCOMPARE(after.exists() || after.isSymLink(), !removed);
    QCOMPARE(ReadFile(work + "/notes.txt"), QByteArray("bystander"));
    const QByteArray logged = log.Read();
    QVERIFY2(logged.contains(DeletingLine(entry)) == attempted, logged.constData());
    QVERIFY2(logged.contains(FailedLine(name)) == (attempted && !removed), logged.constData());
}

void TestLogFilesClean::currentRunFolderSurvives_data()
{
    QTest::addColumn<QString>("keepForm");

    QTest::newRow("absolute") << "absolute";
    QTest::newRow("native separators and a trailing one") << "trailing";
    QTest::newRow("relative to the working folder") << "relative";
    QTest::newRow("no current run spares none") << "none";
}

void TestLogFilesClean::currentRunFolderSurvives()
{
    QFETCH(QString, keepForm);

    QStringList dumps;
    for (int day = 9; day <= 11; ++day) {
        dumps << work + "/" + LoggerNamed(QDateTime(QDate(2023, 4, day), QTime(9, 0)));
        QVERIFY(MakeDump(dumps.last(), 2));
    }
    const QString current = dumps.at(1);
    QString keep;
    if (keepForm == "absolute") {
        keep = current;
    } else if (keepForm == "trailing") {
        keep = QDir::toNativeSeparators(current + "/");
    } else if (keepForm == "relative") {
        keep = QDir::current().relativeFilePath(current);
    }

    QVERIFY(RunPass(work, "Daily", keep));

    for (const QString& dump : dumps) {
        const bool spared = dump == current && keepForm != "none";
        QCOMPARE(QFileInfo(dump).isDir(), spared);
        QCOMPARE(CountFiles(dump), spared ? 2 : 0);
    }
}

void TestLogFilesClean::linkToAnOutsideFolderGoesAsALink()
{
    const QString outside = work + "/outside";
    QVERIFY(MakeDump(outside + "/inner", 2));
    QVERIFY(WriteFile(outside + "/precious.txt", "precious"));
    const QString folder = work + "/logs";
    const QString linkEntry = folder + "/" + Dated(kNow.addDays(-3));
    const QString dumpWithLink = folder + "/" + Dated(kNow.addDays(-4));
    QVERIFY(QDir().mkpath(dumpWithLink));
    QVERIFY(QFile::link(outside, linkEntry));
    QVERIFY(QFile::link(outside, dumpWithLink + "/linked"));

    QVERIFY(RunPass(folder, "Daily"));

    QVERIFY(!QFileInfo(linkEntry).isSymLink());
    QVERIFY(!QFileInfo::exists(dumpWithLink));
    QCOMPARE(ReadFile(outside + "/precious.txt"), QByteArray("precious"));
    QCOMPARE(CountFiles(outside + "/inner"), 2);
}

void TestLogFilesClean::missingOrUnnamedFolderTouchesNothing_data()
{
    QTest::addColumn<bool>("unnamed");
    QTest::newRow("a missing folder") << false;
    QTest::newRow("an empty folder name, not the working folder") << true;
}

void TestLogFilesClean::missingOrUnnamedFolderTouchesNothing()
{
    QFETCH(bool, unnamed);
    // The working folder holds an old dump entry that a pass over it would delete.
    const QString bait = QDir::current().absoluteFilePath(Dated(kNow.addDays(-30)));
    QVERIFY(MakeDump(bait));
    const NewLogText log(LogFilePath());
    QVERIFY(RunPass(unnamed ? QString() : work + "/absent", "Daily"));
    const bool baitSurvived = QFileInfo(bait + "/f00000").isFile();
    QDir(bait).removeRecursively();
    QVERIFY(baitSurvived);
    QVERIFY(!QFileInfo::exists(work + "/absent"));
    QCOMPARE(log.Read(), QByteArray());
}

void TestLogFilesClean::entriesGoInReverseNameOrder()
{
    const QStringList names{"PXL_Dump_a", "PXL_Dump_b", "PXL_Dump_c", "PXL_Dump_C"};
    for (const QString& name : names) {
        QVERIFY(MakeDump(work + "/" + name));
    }
    const NewLogText log(LogFilePath());
    QVERIFY(RunPass(work, "Daily"));
    const QByteArray logged = log.Read();
    // Upper case sorts before lower case, so "C" comes last.
    const QStringList expectedOrder{"PXL_Dump_c", "PXL_Dump_b", "PXL_Dump_a", "PXL_Dump_C"};
    int previous = -1;
    for (const QString& name : expectedOrder) {
        const int at = logged.indexOf(DeletingLine(work + "/" + name));
        QVERIFY2(at > previous, qPrintable(name));
        previous = at;
    }
}

void TestLogFilesClean::startedCleanerDeletesItselfOnceDone()
{
    const QString weekOld = work + "/" + Dated(kNow.addDays(-8));
    const QString twoDaysOld = work + "/" + Dated(kNow.addDays(-2));
    QVERIFY(MakeDump(weekOld));
    QVERIFY(MakeDump(twoDaysOld));

    QPointer<LogCleanThread> cleaner = StartLogClean(work, "Weekly", {}, FixedNow);
    QVERIFY(cleaner);
    QTRY_VERIFY_WITH_TIMEOUT(cleaner.isNull(), 60000);
    QVERIFY(!QFileInfo::exists(weekOld));
    QVERIFY(QFileInfo(twoDaysOld).isDir());
}

void TestLogFilesClean::twoCleanersAtOnceBothEndWithoutError()
{
    for (int round = 0; round < 3; ++round) {
        QStringList dumps;
        for (int day = 1; day <= 8; ++day) {
            dumps << work + "/" + LoggerNamed(QDateTime(QDate(2023, 3, day), QTime(round, 0)));
            for (int sub = 0; sub < 6; ++sub) {
                QVERIFY(MakeDump(dumps.last() + QString("/sub%1").arg(sub), 25));
            }
        }
        const NewLogText log(LogFilePath());
        LogCleanThread first(work, CleanPeriodToHours("Daily", kNow), {}, FixedNow);
        LogCleanThread second(work, CleanPeriodToHours("Daily", kNow), {}, FixedNow);
        first.start();
        second.start();
        QVERIFY(first.wait(120000));
        QVERIFY(second.wait(120000));

        const QByteArray logged = log.Read();
        QVERIFY2(!logged.contains("Failed to remove folder"), logged.constData());
        for (const QString& dump : dumps) {
            QVERIFY2(!QFileInfo::exists(dump), qPrintable(dump));
        }
    }
}

void TestLogFilesClean::closingWhileACleanerWalksALargeFolderStopsIt()
{
    // Processed first (reverse name order), and one removal call from start to end.
    const QString large = work + "/PXL_Dump_zz";
    constexpr int kFiles = 20000;
    QVERIFY(MakeDump(large, kFiles));
    const QString later = work + "/" + Dated(kNow.addDays(-5));
    QVERIFY(MakeDump(later));

    const NewLogText log(LogFilePath());
    auto owner = std::make_unique<LogCleaner>();
    owner->Start(work, "Daily", {}, FixedNow);

    QElapsedTimer waited;
    waited.start();
    while (QFileInfo::exists(large + "/f00000") && waited.elapsed() < 60000) {
        QThread::usleep(100);
    }
    QVERIFY2(!QFileInfo::exists(large + "/f00000"), "the cleaner never began");

    QElapsedTimer closing;
    closing.start();
    owner.reset();
    QVERIFY2(closing.elapsed() < 10000, "the cleaner did not stop promptly");

    const int left = CountFiles(large);
    QVERIFY2(left > 0 && left < kFiles, qPrintable(QString::number(left)));
    QVERIFY(QFileInfo(later + "/f00000").isFile());
    QVERIFY(!log.Read().contains("Failed to remove folder"));
}

void TestLogFilesClean::clearAllLogsCleansTheLogRootButTheCurrentRun()
{
    const QString root = QString::fromLocal8Bit(Logger::Instance().GetLogRoot());
    const QString current = QString::fromLocal8Bit(Logger::Instance().GetDumpFolder());
    QVERIFY(QFileInfo(current).isDir());
    const QString earlier = root + "/" + LoggerNamed(QDateTime(QDate(2020, 1, 1), QTime(0, 0)));
    QVERIFY(MakeDump(earlier, 2));
    QVERIFY(WriteFile(root + "/keep-me.txt", "kept"));
    QVERIFY(MakeDump(root + "/pxl_dump_lower"));

    const NewLogText log(LogFilePath());
    LogCleaner cleaner;
    // Two quick requests run two cleaners over the same folder.
    cleaner.ClearAllLogs();
    cleaner.ClearAllLogs();
    QTRY_VERIFY_WITH_TIMEOUT(cleaner.IsIdle(), 60000);

    QVERIFY(!QFileInfo::exists(earlier));
    QVERIFY(QFileInfo(LogFilePath()).isFile());
    QCOMPARE(ReadFile(root + "/keep-me.txt"), QByteArray("kept"));
    QVERIFY(QFileInfo(root + "/pxl_dump_lower/f00000").isFile());
    const QByteArray logged = log.Read();
    QVERIFY2(logged.contains(DeletingLine(earlier)), logged.constData());
    QVERIFY2(!logged.contains("Failed to remove folder"), logged.constData());
}

QTEST_GUILESS_MAIN(TestLogFilesClean)
#include "tst_logfilesclean.moc"
