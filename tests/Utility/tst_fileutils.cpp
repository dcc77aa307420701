#include "Utility/FileUtils.h"
#include "Utility/StationFolders.h"
#include "logging/Log.h"

#include "TestFiles.h"
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <QtTest>

#include <atomic>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

using TestFiles::ReadFile;
using TestFiles::WriteFile;

namespace {

QString LogFilePath()
{
    return QString::fromLocal8Bit(Logger::Instance().GetDumpFolder()) + "/Praxilo_TOOL.log";
}

int CountFiles(const QString& path)
{
    int count = 0;
    for (QDirIterator it(path, QDir::Files, QDirIterator::Subdirectories); it.hasNext(); it.next()) {
        ++count;
    }
    return count;
}

bool IsRoot()
{
    return geteuid() == 0;
}

enum class Rerun
{
    Passed,
    Failed,
    Unavailable
};

// Root ignores permissions, so a permission case runs again in a child of this test without root's
// rights, in a folder that child may write.
Rerun RerunUnprivileged(const char* testFunction, QByteArray& output)
{
    const QString setpriv = QStandardPaths::findExecutable("setpriv");
    QTemporaryDir folder;
    if (setpriv.isEmpty() || !folder.isValid() ||
        chmod(QFile::encodeName(folder.path()).constData(), 0777) != 0) {
        return Rerun::Unavailable;
    }
    QProcess child;
    child.setWorkingDirectory(folder.path());
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(setpriv, {"--reuid=65534", "--regid=65534", "--clear-groups",
                          QCoreApplication::applicationFilePath(), testFunction});
    if (!child.waitForFinished(120000) || child.exitStatus() != QProcess::NormalExit) {
        output = child.readAll();
        return Rerun::Failed;
    }
    output = child.readAll();
    // setpriv reports a program it could not start (a build folder nobody else may enter) with 126 or 127.
    if (child.exitCode() == 126 || child.exitCode() == 127) {
        return Rerun::Unavailable;
    }
    const QByteArray passed = QByteArray("PASS   : TestFileUtils::") + testFunction + "()";
    return child.exitCode() == 0 && output.contains(passed) ? Rerun::Passed : Rerun::Failed;
}

} // namespace

class TestFileUtils : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void appFilePathJoinsDirectoryAndName();
    void installedStationKeepsItsSettingsWithTheUser_data();
    void installedStationKeepsItsSettingsWithTheUser();
    void checkDirectoryResultsAndLines_data();
    void checkDirectoryResultsAndLines();
    void createdFolderTakesNewEntries();
    void existingFolderKeepsItsPermissions();
    void removeDirectoryDeletesHiddenEntries();
    void removeDirectoryOnMissingPathSucceeds();
    void removeDirectoryLeavesAPlainFile();
    void removeDirectoryRemovesLinksNotTheirTargets();
    void removeDirectoryOnALinkRemovesOnlyTheLink();
    void removeDirectoryStopsAtAnEntryItCannotRemove();
    void removeDirectoryStopsWhenAsked_data();
    void removeDirectoryStopsWhenAsked();
    void removeDirectoryRacingAnotherRemoverSucceeds();
    void checkFileMessages_data();
    void checkFileMessages();
    void checkFileOnUnreadableFile();

private:
    QString work;
    int caseNumber = 0;
};

void TestFileUtils::initTestCase()
{
    const QString xdg = QDir::current().absoluteFilePath("xdg");
    QDir(xdg).removeRecursively();
    qputenv("XDG_DATA_HOME", QFile::encodeName(xdg));
    Logger::Instance().StartLogging();
    QVERIFY(QFileInfo(LogFilePath()).isFile());
}

void TestFileUtils::init()
{
    work = QDir::current().absoluteFilePath(QString("case-%1").arg(++caseNumber));
    QDir(work).removeRecursively();
    QVERIFY(QDir().mkpath(work));
}

void TestFileUtils::appFilePathJoinsDirectoryAndName()
{
#ifdef Q_OS_WIN
    FileUtils::SetAppDirectory("C:\\Tools");
    QCOMPARE(FileUtils::GetAppFilePath("pxl_setting.ini"), QByteArray("C:\\Tools\\pxl_setting.ini"));
#else
    FileUtils::SetAppDirectory("/opt/tools");
    QCOMPARE(FileUtils::GetAppFilePath("pxl_setting.ini"), QByteArray("/opt/tools/pxl_setting.ini"));
    const QByteArray self = FileUtils::GetAppFilePath("x");
    FileUtils::SetAppDirectory(self.left(self.size() - 2));
    QCOMPARE(FileUtils::GetAppFilePath("other.ini"), QByteArray("/opt/tools/other.ini"));
#endif
}

void TestFileUtils::installedStationKeepsItsSettingsWithTheUser_data()
{
    // The executable's folder is work/usr/bin; what lies at its private library folder decides.
    QTest::addColumn<QString>("privateFolder"); // "folder", "file" or "" for nothing there
    QTest::addColumn<bool>("appDirectoryKnown");
    QTest::addColumn<bool>("installed");
    QTest::newRow("run from a folder") << "" << true << false;
    QTest::newRow("package's private folder beside bin") << "folder" << true << true;
    QTest::newRow("a file where the private folder would be") << "file" << true << false;
    QTest::newRow("executable's folder not known") << "folder" << false << false;
}

void TestFileUtils::installedStationKeepsItsSettingsWithTheUser()
{
    QFETCH(QString, privateFolder);
    QFETCH(bool, appDirectoryKnown);
    QFETCH(bool, installed);
    const QString bin = work + "/usr/bin";
    QVERIFY(QDir().mkpath(bin));
    const QString libraries = QDir::cleanPath(bin + "/" + StationFolders::InstalledLibraryFolder());
    if (privateFolder == "folder")
        QVERIFY(QDir().mkpath(libraries));
    if (privateFolder == "file") {
        QVERIFY(QDir().mkpath(QFileInfo(libraries).path()));
        QVERIFY(WriteFile(libraries, "not a folder"));
    }
    // From bin, the private folder's relative path finds it: an unknown executable's folder must not be
    // taken for the working folder.
    const QString testFolder = QDir::currentPath();
    const auto back = qScopeGuard([&] { QDir::setCurrent(testFolder); });
    QVERIFY(QDir::setCurrent(bin));
    const QByteArray app = appDirectoryKnown ? QFile::encodeName(bin) : QByteArray();
    const StationFolders folders = StationFolders::Decide(app, work + "/config", "/etc/x/pxl_setting.ini");

    QCOMPARE(folders.installed, installed);
    if (installed) {
        QCOMPARE(folders.settingsFile, work + "/config/praxilo/pxl_setting.ini");
        QCOMPARE(folders.installerSettingsFile, QString("/etc/x/pxl_setting.ini"));
        QCOMPARE(folders.libraryFolder, libraries);
    } else {
        QCOMPARE(folders.settingsFile, QString::fromUtf8(app) + "/pxl_setting.ini");
        QVERIFY(folders.installerSettingsFile.isEmpty());
        QCOMPARE(folders.libraryFolder, QString::fromUtf8(app));
    }
}

void TestFileUtils::checkDirectoryResultsAndLines_data()
{
    QTest::addColumn<QString>("relative");
    QTest::addColumn<bool>("existing");
    QTest::addColumn<bool>("create");
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("line");

    QTest::newRow("existing, create") << "here" << true << true << 0 << "the dir(%1) already exists.";
    QTest::newRow("existing, no create") << "here" << true << false << 0 << "the dir(%1) already exists.";
    QTest::newRow("missing, no create") << "a/b/c" << false << false << 1 << "the dir(%1) does not exist.";
    QTest::newRow("three missing levels") << "a/b/c" << false << true << 2 << "create the dir(%1) succeed.";
    QTest::newRow("under a plain file")
        << "plain/inner" << false << true << 3 << "create the dir(%1) failed.";
}

void TestFileUtils::checkDirectoryResultsAndLines()
{
    QFETCH(QString, relative);
    QFETCH(bool, existing);
    QFETCH(bool, create);
    QFETCH(int, result);
    QFETCH(QString, line);

    const QString path = work + "/" + relative;
    if (existing) {
        QVERIFY(QDir().mkpath(path));
    }
    // A folder cannot be made under a plain file, whoever runs the test.
    QVERIFY(WriteFile(work + "/plain", "data"));

    const qint64 offset = QFileInfo(LogFilePath()).size();
    QCOMPARE(FileUtils::CheckDirectory(QFile::encodeName(path), create), result);
    QCOMPARE(QFileInfo(path).isDir(), result == 0 || result == 2);

    const QByteArray logged = ReadFile(LogFilePath()).mid(static_cast<int>(offset));
    QVERIFY(logged.endsWith("\n"));
    QCOMPARE(logged.count('\n'), 1);
    const QByteArray expected = "][D]: FileUtils::CheckDirectory(): FileUtils::CheckDirectory(): " +
                                QFile::encodeName(line.arg(path)) + "(FileUtils,";
    QVERIFY2(logged.contains(expected), logged.constData());
}

void TestFileUtils::createdFolderTakesNewEntries()
{
    const QString path = work + "/made/here";
    QCOMPARE(FileUtils::CheckDirectory(QFile::encodeName(path), true), int(FileUtils::DirectoryCreated));
    QVERIFY(QFileInfo(path).isDir());
#ifndef Q_OS_WIN
    struct stat info;
    QCOMPARE(stat(QFile::encodeName(path).constData(), &info), 0);
    QCOMPARE(info.st_mode & 0777, mode_t(S_IRWXU));
#endif
    QVERIFY(WriteFile(path + "/inside.txt", "data"));
    QVERIFY(QDir(path).mkdir("sub"));
    QCOMPARE(QDir(path).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size(), 2);
}

void TestFileUtils::existingFolderKeepsItsPermissions()
{
    const QString path = work + "/kept";
    QVERIFY(QDir().mkpath(path));
    QVERIFY(chmod(QFile::encodeName(path).constData(), 0750) == 0);
    QCOMPARE(FileUtils::CheckDirectory(QFile::encodeName(path), true), int(FileUtils::DirectoryExists));
    struct stat info;
    QCOMPARE(stat(QFile::encodeName(path).constData(), &info), 0);
    QCOMPARE(info.st_mode & 0777, mode_t(0750));
}

void TestFileUtils::removeDirectoryDeletesHiddenEntries()
{
    const QString tree = work + "/tree";
    QVERIFY(QDir().mkpath(tree + "/sub/.hiddenDir"));
    QVERIFY(WriteFile(tree + "/.hidden", "data"));
    QVERIFY(WriteFile(tree + "/visible.txt", "data"));
    QVERIFY(WriteFile(tree + "/sub/.hiddenDir/.deeper", "data"));
    QVERIFY(WriteFile(tree + "/sub/file", "data"));
    QVERIFY(FileUtils::RemoveDirectory(QFile::encodeName(tree)));
    QVERIFY(!QFileInfo::exists(tree));
    QVERIFY(QFileInfo(work).isDir());
}

void TestFileUtils::removeDirectoryOnMissingPathSucceeds()
{
    QVERIFY(FileUtils::RemoveDirectory(QFile::encodeName(work + "/nothing/here")));
    QVERIFY(QFileInfo(work).isDir());
}

void TestFileUtils::removeDirectoryLeavesAPlainFile()
{
    const QString file = work + "/PXL_Dump_file";
    QVERIFY(WriteFile(file, "keep me"));
    QVERIFY(!FileUtils::RemoveDirectory(QFile::encodeName(file)));
    QCOMPARE(ReadFile(file), QByteArray("keep me"));
}

void TestFileUtils::removeDirectoryRemovesLinksNotTheirTargets()
{
    const QString target = work + "/target";
    QVERIFY(QDir().mkpath(target + "/inner"));
    QVERIFY(WriteFile(target + "/precious.txt", "precious"));
    QVERIFY(WriteFile(target + "/inner/also.txt", "data"));
    QVERIFY(WriteFile(work + "/targetFile.txt", "file target"));

    const QString tree = work + "/tree";
    QVERIFY(QDir().mkpath(tree + "/sub"));
    QVERIFY(QFile::link(target, tree + "/linkToDir"));
    QVERIFY(QFile::link(target, tree + "/sub/.hiddenLinkToDir"));
    QVERIFY(QFile::link(work + "/targetFile.txt", tree + "/linkToFile"));
    QVERIFY(QFile::link(work + "/gone", tree + "/danglingLink"));

    QVERIFY(FileUtils::RemoveDirectory(QFile::encodeName(tree)));
    QVERIFY(!QFileInfo::exists(tree) && !QFileInfo(tree).isSymLink());
    QCOMPARE(ReadFile(target + "/precious.txt"), QByteArray("precious"));
    QVERIFY(QFileInfo(target + "/inner/also.txt").isFile());
    QCOMPARE(ReadFile(work + "/targetFile.txt"), QByteArray("file target"));
}

void TestFileUtils::removeDirectoryOnALinkRemovesOnlyTheLink()
{
    const QString target = work + "/target";
    QVERIFY(QDir().mkpath(target));
    QVERIFY(WriteFile(target + "/precious.txt", "precious"));
    const QString link = work + "/PXL_Dump_link";
    QVERIFY(QFile::link(target, link));

    QVERIFY(FileUtils::RemoveDirectory(QFile::encodeName(link)));
    QVERIFY(!QFileInfo(link).isSymLink());
    QCOMPARE(ReadFile(target + "/precious.txt"), QByteArray("precious"));
}

void TestFileUtils::removeDirectoryStopsAtAnEntryItCannotRemove()
{
    if (IsRoot()) {
        QByteArray output;
        const Rerun rerun = RerunUnprivileged("removeDirectoryStopsAtAnEntryItCannotRemove", output);
        if (rerun == Rerun::Unavailable) {
            QSKIP("root may delete inside a read-only folder, and no unprivileged child could run");
        }
        QVERIFY2(rerun == Rerun::Passed, output.constData());
        return;
    }
    const QString tree = work + "/tree";
    QVERIFY(QDir().mkpath(tree + "/locked"));
    QVERIFY(WriteFile(tree + "/locked/stays.txt", "data"));
    QVERIFY(chmod(QFile::encodeName(tree + "/locked").constData(), 0500) == 0);
    const bool removed = FileUtils::RemoveDirectory(QFile::encodeName(tree));
    chmod(QFile::encodeName(tree + "/locked").constData(), 0700);
    QVERIFY(!removed);
    QVERIFY(QFileInfo(tree + "/locked/stays.txt").isFile());
}

void TestFileUtils::removeDirectoryStopsWhenAsked_data()
{
    QTest::addColumn<int>("topFiles");
    QTest::addColumn<int>("subFiles");
    QTest::addColumn<int>("goOnAnswers");
    QTest::addColumn<int>("filesLeft");

    QTest::newRow("stop before the first entry") << 10 << 0 << 0 << 10;
    QTest::newRow("stop after three entries") << 10 << 0 << 3 << 7;
    QTest::newRow("stop inside a subfolder") << 0 << 10 << 4 << 7;
    QTest::newRow("subfolder first, then stop at the top") << 5 << 4 << 5 << 5;
    QTest::newRow("never stopped") << 10 << 4 << 1000 << 0;
}

void TestFileUtils::removeDirectoryStopsWhenAsked()
{
    QFETCH(int, topFiles);
    QFETCH(int, subFiles);
    QFETCH(int, goOnAnswers);
    QFETCH(int, filesLeft);

    const QString tree = work + "/tree";
    QVERIFY(QDir().mkpath(tree));
    for (int i = 0; i < topFiles; ++i) {
        QVERIFY(WriteFile(QString("%1/f%2").arg(tree).arg(i), "data"));
    }
    for (int i = 0; i < subFiles; ++i) {
        QVERIFY(WriteFile(QString("%1/sub/f%2").arg(tree).arg(i), "data"));
    }
    int answers = 0;
    const bool removed =
        FileUtils::RemoveDirectory(QFile::encodeName(tree), [&] { return ++answers > goOnAnswers; });

    QCOMPARE(removed, filesLeft == 0);
    QCOMPARE(QFileInfo::exists(tree), filesLeft > 0);
    QCOMPARE(CountFiles(tree), filesLeft);
}

void TestFileUtils::removeDirectoryRacingAnotherRemoverSucceeds()
{
    for (int round = 0; round < 5; ++round) {
        const QString tree = work + QString("/tree%1").arg(round);
        for (int sub = 0; sub < 8; ++sub) {
            for (int i = 0; i < 40; ++i) {
                QVERIFY(WriteFile(QString("%1/sub%2/deeper/f%3").arg(tree).arg(sub).arg(i), "data"));
            }
        }
        const QByteArray path = QFile::encodeName(tree);
        std::atomic<int> ready{0};
        bool results[2] = {false, false};
        auto remover = [&](int index) {
            ++ready;
            while (ready.load() < 2) {
                std::this_thread::yield();
            }
            results[index] = FileUtils::RemoveDirectory(path);
        };
        std::thread first(remover, 0);
        std::thread second(remover, 1);
        first.join();
        second.join();
        QVERIFY(results[0]);
        QVERIFY(results[1]);
        QVERIFY(!QFileInfo::exists(tree));
    }
}

void TestFileUtils::checkFileMessages_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("message");

    QTest::newRow("empty name") << QString() << false << "filename is empty.";
    QTest::newRow("missing") << "missing.xml" << false << "%1 is not exist.";
    QTest::newRow("directory") << "folder" << false << "%1 is not a regular file.";
    QTest::newRow("readable file") << "flash.xml" << true << "untouched";
}

void TestFileUtils::checkFileMessages()
{
    QFETCH(QString, name);
    QFETCH(bool, ok);
    QFETCH(QString, message);

    QVERIFY(QDir(work).mkdir("folder"));
    QVERIFY(WriteFile(work + "/flash.xml", "data"));
    const QString fileName = name.isEmpty() ? name : work + "/" + name;
    QString errorMsg = "untouched";
    QCOMPARE(FileUtils::CheckFile(fileName, errorMsg), ok);
    QCOMPARE(errorMsg, message.contains("%1") ? message.arg(fileName) : message);
}

void TestFileUtils::checkFileOnUnreadableFile()
{
    if (IsRoot()) {
        QByteArray output;
        const Rerun rerun = RerunUnprivileged("checkFileOnUnreadableFile", output);
        if (rerun == Rerun::Unavailable) {
            QSKIP("root reads every file whatever its permissions, and no unprivileged child could run");
        }
        QVERIFY2(rerun == Rerun::Passed, output.constData());
        return;
    }
    const QString file = work + "/secret.xml";
    QVERIFY(WriteFile(file, "data"));
    QVERIFY(chmod(QFile::encodeName(file).constData(), 0200) == 0);
    QString errorMsg;
    QVERIFY(!FileUtils::CheckFile(file, errorMsg));
    QCOMPARE(errorMsg, file + " is not a readable file.");
}

QTEST_GUILESS_MAIN(TestFileUtils)
#include "tst_fileutils.moc"
