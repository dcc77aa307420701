// One copy of the tool per machine: a second lock, in this process or another, is refused and told who holds
// it; the lock of a copy that died is taken over, and a live holder's is not, however old; a link in its
// place is refused; the lock file's mode does not depend on the umask.
#include "TestFiles.h"

#include "Utility/InstanceLock.h"
#include "logging/Logger.h"

#include <QDateTime>
#include <QDir>
#include <QProcess>
#include <QSysInfo>
#include <QtTest>

#include <utime.h>

namespace {

// Dates the file back, as a lock left behind long ago would be.
bool Age(const QString& path, qint64 seconds)
{
    const time_t then = static_cast<time_t>(QDateTime::currentSecsSinceEpoch() - seconds);
    const utimbuf times{then, then};
    return utime(QFile::encodeName(path).constData(), &times) == 0;
}

QString ProbePath()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/instance_lock_probe");
}

// Starts a probe that holds the lock at path; false when it did not say so.
bool StartHolder(QProcess& probe, const QString& path)
{
    probe.start(ProbePath(), {path});
    if (!probe.waitForStarted(30000))
        return false;
    while (!probe.canReadLine()) {
        if (!probe.waitForReadyRead(30000))
            return false;
    }
    return probe.readLine() == "locked\n";
}

} // namespace

class InstanceLockTest : public QObject
{
    Q_OBJECT

private:
    QString path;
    int caseNumber = 0;

private Q_SLOTS:
    void init();
    void aSecondLockInThisProcessIsRefusedWithTheHolderNamed();
    void anotherProcessIsRefusedBothWays();
    void theLockOfAKilledCopyIsTakenOver();
    void aLiveHoldersLockIsKeptHoweverOld();
    void anUnreadableLeftoverIsTakenOverOnlyWhenOld_data();
    void anUnreadableLeftoverIsTakenOverOnlyWhenOld();
    void theDefaultLockLivesInTheLogRoot();
    void aLinkInPlaceOfTheLockIsRefused_data();
    void aLinkInPlaceOfTheLockIsRefused();
    void theLockFileHasItsModeWhateverTheUmask_data();
    void theLockFileHasItsModeWhateverTheUmask();
};

void InstanceLockTest::init()
{
    const QString folder = QDir::current().absoluteFilePath(QStringLiteral("case-%1").arg(++caseNumber));
    QDir(folder).removeRecursively();
    path = folder + QStringLiteral("/PXL_Instance.lock");
}

void InstanceLockTest::aSecondLockInThisProcessIsRefusedWithTheHolderNamed()
{
    InstanceLock second(path);
    QString holder;
    {
        InstanceLock first(path);
        QVERIFY2(first.TryLock(holder), qPrintable(holder));
        QVERIFY(first.IsLocked());
        QVERIFY(first.TryLock(holder));

        QVERIFY(!second.TryLock(holder));
        QVERIFY(!second.IsLocked());
        QVERIFY2(holder.contains(QStringLiteral("process %1 ").arg(QCoreApplication::applicationPid())),
                 qPrintable(holder));
        QVERIFY2(holder.contains(QSysInfo::machineHostName()), qPrintable(holder));
        QVERIFY2(holder.contains(QStringLiteral("test_instance_lock")), qPrintable(holder));

        first.Unlock();
        QVERIFY(!first.IsLocked());
        QVERIFY2(second.TryLock(holder), qPrintable(holder));
        QVERIFY(!first.TryLock(holder));
        second.Unlock();
        QVERIFY(first.TryLock(holder));
    }
    // The first lock went with its object.
    QVERIFY2(second.TryLock(holder), qPrintable(holder));
}

void InstanceLockTest::anotherProcessIsRefusedBothWays()
{
    QProcess probe;
    QVERIFY2(StartHolder(probe, path), qPrintable(probe.errorString()));
    InstanceLock lock(path);
    QString holder;
    QVERIFY(!lock.TryLock(holder));
    QVERIFY2(holder.contains(QStringLiteral("process %1 ").arg(probe.processId())), qPrintable(holder));
    QVERIFY2(holder.contains(QStringLiteral("instance_lock_probe")), qPrintable(holder));

    probe.write("quit\n");
    QVERIFY(probe.waitForFinished(30000));
    QCOMPARE(probe.exitCode(), 0);
    QVERIFY2(lock.TryLock(holder), qPrintable(holder));

    QProcess refused;
    refused.start(ProbePath(), {path});
    QVERIFY(refused.waitForFinished(30000));
    QCOMPARE(refused.exitCode(), 1);
    const QByteArray said = refused.readAllStandardOutput();
    QVERIFY2(
        said.startsWith("refused: ") &&
            said.contains(QStringLiteral("process %1 ").arg(QCoreApplication::applicationPid()).toUtf8()),
        said.constData());
}

void InstanceLockTest::theLockOfAKilledCopyIsTakenOver()
{
    QProcess probe;
    QVERIFY2(StartHolder(probe, path), qPrintable(probe.errorString()));
    probe.kill();
    QVERIFY(probe.waitForFinished(30000));
    QVERIFY2(QFileInfo::exists(path), "a killed holder leaves its file behind");
    InstanceLock lock(path);
    QString holder;
    QVERIFY2(lock.TryLock(holder), qPrintable(holder));
}

void InstanceLockTest::aLiveHoldersLockIsKeptHoweverOld()
{
    QProcess probe;
    QVERIFY2(StartHolder(probe, path), qPrintable(probe.errorString()));
    QVERIFY(Age(path, 24 * 3600));
    InstanceLock lock(path);
    QString holder;
    QVERIFY(!lock.TryLock(holder));
    QVERIFY2(holder.contains(QString::number(probe.processId())), qPrintable(holder));
    probe.closeWriteChannel();
    QVERIFY(probe.waitForFinished(30000));
    QCOMPARE(probe.exitCode(), 0);
}

void InstanceLockTest::anUnreadableLeftoverIsTakenOverOnlyWhenOld_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("ageSeconds");
    QTest::addColumn<bool>("taken");

    // A file just made may be a holder that has not written its line yet.
    QTest::newRow("empty, just made") << QByteArray() << 0 << false;
    QTest::newRow("empty, a minute old") << QByteArray() << 60 << true;
    QTest::newRow("garbage, a minute old") << QByteArray("\x01\x02 not a pid\n") << 60 << true;
    QTest::newRow("blank lines, an hour old") << QByteArray("\n\n\n") << 3600 << true;
}

void InstanceLockTest::anUnreadableLeftoverIsTakenOverOnlyWhenOld()
{
    QFETCH(QByteArray, content);
    QFETCH(int, ageSeconds);
    QFETCH(bool, taken);

    QVERIFY(TestFiles::WriteFile(path, content));
    QVERIFY(Age(path, ageSeconds));
    InstanceLock lock(path);
    QString holder;
    QCOMPARE(lock.TryLock(holder), taken);
    if (!taken)
        QVERIFY2(holder.contains(QDir::toNativeSeparators(path)), qPrintable(holder));
}

void InstanceLockTest::theDefaultLockLivesInTheLogRoot()
{
    qputenv("XDG_DATA_HOME", QDir::current().absoluteFilePath(QStringLiteral("xdg")).toLocal8Bit());
    Logger::Instance().InitLogRoot();
    const QString expected =
        QDir::current().absoluteFilePath(QStringLiteral("xdg/QN_PXL_V6_Logs/PXL_Instance.lock"));
    QCOMPARE(InstanceLock::DefaultPath(), expected);
    InstanceLock lock;
    QString holder;
    QVERIFY2(lock.TryLock(holder), qPrintable(holder));
    QVERIFY(QFileInfo::exists(expected));
}

void InstanceLockTest::aLinkInPlaceOfTheLockIsRefused_data()
{
    QTest::addColumn<QByteArray>("target"); // null: dangling
    QTest::newRow("dangling") << QByteArray();
    QTest::newRow("to an old, unreadable file") << QByteArray("not a lock\n");
    QTest::newRow("to a dead copy's lock")
        << "999999999\nprobe\n" + QSysInfo::machineHostName().toUtf8() + '\n';
}

void InstanceLockTest::aLinkInPlaceOfTheLockIsRefused()
{
    QFETCH(QByteArray, target);
    const QString elsewhere = QFileInfo(path).absolutePath() + "/elsewhere";
    if (!target.isNull())
        QVERIFY(TestFiles::WriteFile(elsewhere, target) && Age(elsewhere, 3600));
    QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()) && QFile::link(elsewhere, path));
    InstanceLock lock(path);
    QString holder;
    QVERIFY(!lock.TryLock(holder));
    QCOMPARE(holder, QStringLiteral("nobody: the lock file %1 is a symbolic link; refused").arg(path));
    QVERIFY(QFileInfo(path).isSymLink());
    QCOMPARE(TestFiles::ReadFile(elsewhere), target);
}

void InstanceLockTest::theLockFileHasItsModeWhateverTheUmask_data()
{
    QTest::addColumn<int>("mask");
    QTest::newRow("umask 000") << 0;
    QTest::newRow("umask 077") << 077;
}

void InstanceLockTest::theLockFileHasItsModeWhateverTheUmask()
{
    QFETCH(int, mask);
    const TestFiles::UmaskScope scope(mask);
    InstanceLock lock(path);
    QString holder;
    QVERIFY2(lock.TryLock(holder), qPrintable(holder));
    QCOMPARE(TestFiles::Mode(path), 0644);
    // Its folder is the log root's place, the owner's alone.
    QCOMPARE(TestFiles::Mode(QFileInfo(path).absolutePath()), 0700);
}

QTEST_GUILESS_MAIN(InstanceLockTest)
#include "tst_InstanceLock.moc"
