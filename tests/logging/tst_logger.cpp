#include "NewLogText.h"
#include "StdoutCapture.h"
#include "TestFiles.h"

#include "logging/CriticalSection.h"
#include "logging/CriticalSectionSentry.h"
#include "logging/Log.h"

#include <QDateTime>
#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QtTest>

#include <quillon.h>

#include <set>
#include <thread>
#include <vector>

#ifdef Q_OS_LINUX
#include <sys/syscall.h>
#include <unistd.h>
#endif

static constexpr char kLogSource[] = "Tests\\tst_logger";

using TestFiles::ReadFile;
using TestFiles::WriteFile;

namespace {

const QByteArray kRule(130, '=');
const QByteArray kBanner = kRule + "\nQuillonruntime trace is OFF\n" + kRule + "\n";
const char kDumpFormat[] = "MM-dd-yyyy-HH-mm-ss";

QString LogFilePath()
{
    return QString::fromLocal8Bit(Logger::Instance().GetDumpFolder()) + "/Praxilo_TOOL.log";
}

QString DumpNameNow()
{
    return "PXL_Dump_" + QDateTime::currentDateTime().toString(kDumpFormat);
}

unsigned long CurrentThreadId()
{
#ifdef Q_OS_LINUX
    return static_cast<unsigned long>(syscall(SYS_gettid));
#else
    return 0;
#endif
}

const QRegularExpression kLinePattern(
    R"(^(\d{2})/(\d{2})/(\d{4}) (\d{2}):(\d{2}):(\d{2})\.(\d{3}) CQuillon\[(\d+)\]\[(\d+)\]\[([A-Z]+)\]: )");

} // namespace

class TestLogger : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void fileLineShape_data();
    void fileLineShape();
    void longMessagesAreCutAt5119_data();
    void longMessagesAreCutAt5119();
    void stoppedLoggingEndsTheFileWithTheBanner();
    void laterStartOpensANewDumpFolder();
    void startThatCannotLogSaysWhy_data();
    void startThatCannotLogSaysWhy();
    void sixteenThreadsNeverInterleaveWithinALine();
    void lockIsReentrantForItsOwner();
    void copiesOfALockShareIt();
    void exitLineEndsTheFileAndLateLinesAreDropped();

private:
    QString logRoot;
};

void TestLogger::initTestCase()
{
    const QString xdg = QDir::current().absoluteFilePath("xdg");
    QDir(xdg).removeRecursively();
    qputenv("XDG_DATA_HOME", QFile::encodeName(xdg));
    logRoot = xdg + "/QN_PXL_V6_Logs";

    QVERIFY2(Logger::Instance().GetLogRoot().isEmpty(), "the log root must stay empty until logging starts");
    QVERIFY(Logger::Instance().GetDumpFolder().isEmpty());
    // The tool starts the engine before logging, and the engine's log comes on with the logger's.
    QCOMPARE(quillon_startup(nullptr), int(QUILLON_OK));
    const LogStartResult started = Logger::Instance().StartLogging();
    QVERIFY2(started.Ok(), qPrintable(started.reason));
    QCOMPARE(started.folder, Logger::Instance().GetDumpFolder());
    QCOMPARE(QString::fromLocal8Bit(Logger::Instance().GetLogRoot()), logRoot);
    QVERIFY(QFileInfo(LogFilePath()).isFile());
}

void TestLogger::fileLineShape_data()
{
    QTest::addColumn<int>("level");
    QTest::addColumn<QByteArray>("source");
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<QByteArray>("prefixLevel");
    QTest::addColumn<QByteArray>("fileName");

    QTest::newRow("verbose keeps V") << int(LogLevel::V) << QByteArray("Common\\DeviceInstance")
                                     << QByteArray("value") << QByteArray("V")
                                     << QByteArray("DeviceInstance");
    QTest::newRow("debug") << int(LogLevel::D) << QByteArray("Common\\DeviceInstance") << QByteArray("value")
                           << QByteArray("D") << QByteArray("DeviceInstance");
    QTest::newRow("info shows D") << int(LogLevel::I) << QByteArray("Common\\DeviceInstance")
                                  << QByteArray("value") << QByteArray("D") << QByteArray("DeviceInstance");
    QTest::newRow("warning shows D") << int(LogLevel::W) << QByteArray("Common\\DeviceInstance")
                                     << QByteArray("value") << QByteArray("D")
                                     << QByteArray("DeviceInstance");
    QTest::newRow("error shows D") << int(LogLevel::E) << QByteArray("Common\\DeviceInstance")
                                   << QByteArray("value") << QByteArray("D") << QByteArray("DeviceInstance");
    QTest::newRow("path without backslash is whole")
        << int(LogLevel::I) << QByteArray("PortManager") << QByteArray("value") << QByteArray("D")
        << QByteArray("PortManager");
    QTest::newRow("only the part after the last backslash")
        << int(LogLevel::D) << QByteArray("XML\\parser\\FlashXMLParser") << QByteArray("value")
        << QByteArray("D") << QByteArray("FlashXMLParser");
    QTest::newRow("message ending in a new line")
        << int(LogLevel::E) << QByteArray("Common\\PortManager") << QByteArray("value\n") << QByteArray("D")
        << QByteArray("PortManager");
}

void TestLogger::fileLineShape()
{
    QFETCH(int, level);
    QFETCH(QByteArray, source);
    QFETCH(QByteArray, message);
    QFETCH(QByteArray, prefixLevel);
    QFETCH(QByteArray, fileName);

    const NewLogText fileText(LogFilePath());
    const QDateTime before = QDateTime::currentDateTime();
    StdoutCapture capture;
    Logger::Instance().WriteLog(LogRecord{level, "PortManager::Start", source.constData(), 417}, "%s %d%s",
                                message.left(5).constData(), 42, message.mid(5).constData());
    const QByteArray console = capture.Finish();
    const QDateTime after = QDateTime::currentDateTime();

    const QByteArray written = message.left(5) + " 42" + message.mid(5);
    const QByteArray line = fileText.Read();
    const QRegularExpressionMatch match = kLinePattern.match(QString::fromLatin1(line));
    QVERIFY2(match.hasMatch(), line.constData());
    const QByteArray prefix = line.left(match.capturedLength());
    QCOMPARE(line.mid(prefix.size()), "PortManager::Start(): " + written + "(" + fileName + ",417)\n");

    const QDateTime stamp(
        QDate(match.captured(3).toInt(), match.captured(1).toInt(), match.captured(2).toInt()),
        QTime(match.captured(4).toInt(), match.captured(5).toInt(), match.captured(6).toInt(),
              match.captured(7).toInt()));
    QVERIFY2(stamp >= before && stamp <= after, prefix.constData());
    QCOMPARE(match.captured(8).toLongLong(), QCoreApplication::applicationPid());
#ifdef Q_OS_LINUX
    QCOMPARE(match.captured(9).toULong(), CurrentThreadId());
#endif
    QCOMPARE(match.captured(10).toLatin1(), prefixLevel);

    QCOMPARE(console, level >= LogLevel::I ? written + "\n" : QByteArray());
}

void TestLogger::longMessagesAreCutAt5119_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("kept");
    QTest::newRow("one short of the limit") << 5118 << 5118;
    QTest::newRow("at the limit") << 5119 << 5119;
    QTest::newRow("one over") << 5120 << 5119;
    QTest::newRow("far over") << 20000 << 5119;
}

void TestLogger::longMessagesAreCutAt5119()
{
    QFETCH(int, length);
    QFETCH(int, kept);
    const NewLogText fileText(LogFilePath());
    const QByteArray message(length, 'x');
    LOGD("TestLogger::Cut", "%s", message.constData());
    const QByteArray line = fileText.Read();
    const int start = line.indexOf("TestLogger::Cut(): ") + int(strlen("TestLogger::Cut(): "));
    QVERIFY(start > 0);
    const int lineNumberStart = line.indexOf("(tst_logger,", start);
    QCOMPARE(lineNumberStart - start, kept);
    QCOMPARE(line.mid(start, kept), QByteArray(kept, 'x'));
    QVERIFY(line.endsWith(")\n"));
}

void TestLogger::stoppedLoggingEndsTheFileWithTheBanner()
{
    Logger::Instance().StartLogging();
    const QString path = LogFilePath();
    LOGD("TestLogger::Stop", "last line before stop");
    Logger::Instance().StopLogging();
    const QByteArray closed = ReadFile(path);
    QVERIFY(closed.contains("last line before stop"));
    QVERIFY2(closed.endsWith("(tst_logger," + QByteArray::number(__LINE__ - 4) + ")\n" + kBanner),
             closed.right(400).constData());

    StdoutCapture capture;
    LOGD("TestLogger::Stop", "debug after stop");
    LOGE("TestLogger::Stop", "error after stop");
    QCOMPARE(capture.Finish(), QByteArray("error after stop\n"));
    QCOMPARE(ReadFile(path), closed);

    // A second stop finds no file left to write its banner into.
    Logger::Instance().StopLogging();
    QCOMPARE(ReadFile(path), closed);
    Logger::Instance().StartLogging();
}

void TestLogger::laterStartOpensANewDumpFolder()
{
    const QRegularExpression dumpName(QStringLiteral("^PXL_Dump_\\d{2}-\\d{2}-\\d{4}-\\d{2}-\\d{2}-\\d{2}$"));
    const QDateTime before = QDateTime::currentDateTime().addMSecs(-999);
    Logger::Instance().StartLogging();
    const QDateTime after = QDateTime::currentDateTime();
    const QString first = QString::fromLocal8Bit(Logger::Instance().GetDumpFolder());
    const QString firstName = QFileInfo(first).fileName();
    QCOMPARE(QFileInfo(first).absolutePath(), logRoot);
    QVERIFY2(dumpName.match(firstName).hasMatch(), qPrintable(firstName));
    const QDateTime stamp = QDateTime::fromString(firstName.mid(9), kDumpFormat);
    QVERIFY2(stamp >= before && stamp <= after, qPrintable(firstName));
    const QString firstLog = LogFilePath();
    LOGD("TestLogger::NewFolder", "in the first folder");
    Logger::Instance().StopLogging();

    QTRY_VERIFY_WITH_TIMEOUT(DumpNameNow() != firstName, 10000);
    Logger::Instance().StartLogging();
    const QString second = QString::fromLocal8Bit(Logger::Instance().GetDumpFolder());
    QVERIFY(second != first);
    QVERIFY(dumpName.match(QFileInfo(second).fileName()).hasMatch());
    QVERIFY(QFileInfo(second).isDir());
    LOGD("TestLogger::NewFolder", "in the second folder");

    const QByteArray firstText = ReadFile(firstLog);
    QVERIFY(firstText.endsWith(kBanner));
    QVERIFY(!firstText.contains("in the second folder"));
    const QByteArray secondText = ReadFile(LogFilePath());
    QCOMPARE(QFileInfo(LogFilePath()).absolutePath(), second);
    QVERIFY2(secondText.startsWith("\n") && secondText.contains("in the second folder"),
             secondText.constData());
}

void TestLogger::startThatCannotLogSaysWhy_data()
{
    QTest::addColumn<bool>("rootBlocked");
    QTest::addColumn<QString>("reason");

    QTest::newRow("a plain file where the log root belongs") << true << "the folder cannot be created";
    QTest::newRow("a folder where the log file belongs")
        << false << "the log file %1 cannot be opened: Is a directory";
}

void TestLogger::startThatCannotLogSaysWhy()
{
    QFETCH(bool, rootBlocked);
    QFETCH(QString, reason);

    const QString previousTrace =
        QString::fromLocal8Bit(Logger::Instance().GetDumpFolder()) + "/quillon_engine.log";
    QVERIFY(QFileInfo(previousTrace).isFile());
    const QString xdg = QDir::current().absoluteFilePath("blocked-xdg");
    QDir(xdg).removeRecursively();
    const QString root = xdg + "/QN_PXL_V6_Logs";
    if (rootBlocked) {
        QVERIFY(WriteFile(root, "not a folder"));
    } else {
        // A dump folder is named after the second it is made in: block this one and the next two.
        const QDateTime now = QDateTime::currentDateTime();
        for (int second = 0; second < 3; ++second) {
            const QString dump = root + "/PXL_Dump_" + now.addSecs(second).toString(kDumpFormat);
            QVERIFY(QDir().mkpath(dump + "/Praxilo_TOOL.log"));
        }
    }
    qputenv("XDG_DATA_HOME", QFile::encodeName(xdg));
    const auto restore = qScopeGuard([this] {
        qputenv("XDG_DATA_HOME", QFile::encodeName(QFileInfo(logRoot).path()));
        Logger::Instance().StartLogging();
    });
    const qint64 previousTraceSize = QFileInfo(previousTrace).size();

    StdoutCapture capture;
    QVERIFY(capture.IsActive());
    const LogStartResult result = Logger::Instance().StartLogging();
    const QByteArray console = capture.Finish();
    // An engine call that writes to the engine's log, wherever that log is open.
    quillon_destroy_session(quillon_create_session());

    const QString folder = QString::fromLocal8Bit(result.folder);
    QCOMPARE(QFileInfo(folder).absolutePath(), root);
    QVERIFY2(QFileInfo(folder).fileName().startsWith("PXL_Dump_"), qPrintable(folder));
    QVERIFY(!result.Ok());
    QCOMPARE(result.reason, reason.contains("%1") ? reason.arg(folder + "/Praxilo_TOOL.log") : reason);
    QCOMPARE(console,
             "logging could not start in " + result.folder + ": " + result.reason.toLocal8Bit() + "\n");
    QCOMPARE(QFileInfo(folder).isDir(), !rootBlocked);
    QCOMPARE(Logger::Instance().GetDumpFolder(), rootBlocked ? QByteArray() : result.folder);
    QCOMPARE(QFileInfo(previousTrace).size(), previousTraceSize);
    QCOMPARE(ReadFile(folder + "/quillon_engine.log").contains("engine trace started"), !rootBlocked);
}

void TestLogger::sixteenThreadsNeverInterleaveWithinALine()
{
    constexpr int threadCount = 16;
    constexpr int linesPerThread = 400;
    const NewLogText fileText(LogFilePath());
    std::vector<std::thread> threads;
    for (int t = 0; t < threadCount; ++t) {
        threads.emplace_back([t] {
            const QByteArray payload(150 + t, char('a' + t));
            for (int i = 0; i < linesPerThread; ++i) {
                LOGD("TestLogger::Worker", "thread %02d line %04d %s", t, i, payload.constData());
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }

    const QList<QByteArray> lines = fileText.Read().split('\n');
    QCOMPARE(lines.size(), threadCount * linesPerThread + 1);
    QVERIFY(lines.last().isEmpty());
    const QRegularExpression body(QStringLiteral(R"(^TestLogger::Worker\(\): thread (\d\d) line (\d{4}) )"
                                                 R"(([a-z]+)\(tst_logger,\d+\)$)"));
    std::vector<int> nextLine(threadCount, 0);
    std::vector<QString> threadIds(threadCount);
    for (int n = 0; n < lines.size() - 1; ++n) {
        const QString text = QString::fromLatin1(lines[n]);
        const QRegularExpressionMatch prefix = kLinePattern.match(text);
        QVERIFY2(prefix.hasMatch(), lines[n].constData());
        const QRegularExpressionMatch match = body.match(text.mid(prefix.capturedLength()));
        QVERIFY2(match.hasMatch(), lines[n].constData());
        const int t = match.captured(1).toInt();
        QVERIFY(t < threadCount);
        QCOMPARE(match.captured(2).toInt(), nextLine[t]++);
        QCOMPARE(match.captured(3), QString(150 + t, QChar('a' + t)));
        if (threadIds[t].isEmpty()) {
            threadIds[t] = prefix.captured(9);
        }
        QCOMPARE(prefix.captured(9), threadIds[t]);
    }
    QCOMPARE(std::set<QString>(threadIds.begin(), threadIds.end()).size(), size_t(threadCount));
}

void TestLogger::lockIsReentrantForItsOwner()
{
    CriticalSection section;
    section.Enter();
    {
        CriticalSectionSentry inner(section);
    }
    section.Leave();

    // Entered twice and left twice, the lock must be free for another thread.
    bool entered = false;
    std::thread other([&] {
        CriticalSectionSentry sentry(section);
        entered = true;
    });
    other.join();
    QVERIFY(entered);
}

void TestLogger::copiesOfALockShareIt()
{
    constexpr int threadCount = 16;
    constexpr int increments = 20000;
    const CriticalSection original;
    long long counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < threadCount; ++t) {
        threads.emplace_back([copy = original, &counter]() mutable {
            for (int i = 0; i < increments; ++i) {
                CriticalSectionSentry sentry(copy);
                ++counter;
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    QCOMPARE(counter, static_cast<long long>(threadCount) * increments);
}

void TestLogger::exitLineEndsTheFileAndLateLinesAreDropped()
{
    const QString probeRoot = QDir::current().absoluteFilePath("probe-xdg");
    QDir(probeRoot).removeRecursively();
    QProcess probe;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_DATA_HOME", probeRoot);
    probe.setProcessEnvironment(environment);
    probe.start(QCoreApplication::applicationDirPath() + "/logging_exit_probe", QStringList());
    QVERIFY2(probe.waitForFinished(120000), qPrintable(probe.errorString()));
    QCOMPARE(probe.exitStatus(), QProcess::NormalExit);
    QCOMPARE(probe.exitCode(), 0);
    QVERIFY(probe.readAllStandardOutput().startsWith("probe started 1\n"));

    const QStringList dumps = QDir(probeRoot + "/QN_PXL_V6_Logs").entryList({"PXL_Dump_*"}, QDir::Dirs);
    QCOMPARE(dumps.size(), 1);
    const QByteArray text = ReadFile(probeRoot + "/QN_PXL_V6_Logs/" + dumps.first() + "/Praxilo_TOOL.log");
    QVERIFY(text.contains("Probe::main(): probe started 1\n(LogExitProbe,"));
    QVERIFY(text.contains("Probe::Worker(): worker line 100(LogExitProbe,"));
    QVERIFY2(text.endsWith(")\n\nLogger deinited."), text.right(300).constData());
}

QTEST_GUILESS_MAIN(TestLogger)
#include "tst_logger.moc"
