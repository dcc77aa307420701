#include "TestFiles.h"

#include "logging/Log.h"

#include <QDir>
#include <QRegularExpression>
#include <QtTest>

#include <quillon.h>

static constexpr char kLogSource[] = "Tests\\tst_LogCutOver";

// The numbers of the dump folder's entries named prefix, number, suffix, ascending.
static QList<int> Numbered(const QString& dump, const QString& prefix, const QString& suffix)
{
    QList<int> numbers;
    for (const QString& name : QDir(dump).entryList({prefix + '*' + suffix}, QDir::Files | QDir::Dirs))
        numbers << name.mid(prefix.size(), name.size() - prefix.size() - suffix.size()).toInt();
    std::sort(numbers.begin(), numbers.end());
    return numbers;
}

class TestLogCutOver : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        qputenv("XDG_DATA_HOME", QFile::encodeName(QDir::current().absoluteFilePath("xdg")));
        QCOMPARE(quillon_startup(nullptr), int(QUILLON_OK));
    }
    void logsAreCutOverKeepingTheNewestFiles_data()
    {
        QTest::addColumn<int>("limit");
        QTest::addColumn<int>("kept");
        QTest::addColumn<int>("rounds"); // a line of the tool's (over 100 bytes) and two of the engine's each
        QTest::newRow("below the limit") << 64 * 1024 << 3 << 100;
        QTest::newRow("within the count") << 4096 << 5 << 150;
        QTest::newRow("oldest cut files go") << 4096 << 2 << 300;
        QTest::newRow("no count keeps all") << 4096 << 0 << 300;
        QTest::newRow("no limit") << 0 << 2 << 300;
    }
    void logsAreCutOverKeepingTheNewestFiles()
    {
        QFETCH(int, limit);
        QFETCH(int, kept);
        QFETCH(int, rounds);
        // A run of its own; a run started in the same second has the same folder.
        const QByteArray previous = Logger::Instance().GetDumpFolder();
        QTRY_VERIFY_WITH_TIMEOUT((Logger::Instance().StartLogging(), Logger::Instance().GetDumpFolder() != previous), 5000);
        const QString dump = QString::fromLocal8Bit(Logger::Instance().GetDumpFolder()) + '/';
        Logger::Instance().SetFileLimits({limit, kept});
        for (int round = 1; round <= rounds; ++round) {
            quillon_destroy_session(quillon_create_session());
            LOGD("TestLogCutOver::Write", "cut-over line %d", round);
        }
        Logger::Instance().SetFileLimits({});

        // The newest cut files, numbered on without a gap, each at least the limit; the current one below it.
        const QList<int> cut = Numbered(dump, "Praxilo_TOOL.", ".log");
        const int made = cut.isEmpty() ? 0 : cut.last();
        const bool cuts = limit > 0 && limit < rounds * 100;
        QCOMPARE(made >= 2, cuts);
        QCOMPARE(cut.size(), kept > 0 ? std::min(kept, made) : made);
        QVERIFY(limit == 0 || QFileInfo(dump + "Praxilo_TOOL.log").size() < limit);
        QByteArray text;
        for (int i = 0; i < cut.size(); ++i) {
            QCOMPARE(cut[i], made - cut.size() + 1 + i);
            const QByteArray file = TestFiles::ReadFile(dump + QStringLiteral("Praxilo_TOOL.%1.log").arg(cut[i]));
            QVERIFY(file.size() >= limit);
            text += file;
        }
        text += TestFiles::ReadFile(dump + "Praxilo_TOOL.log");
        // What is kept, oldest first, is an unbroken run of lines that ends with the last.
        auto matches = QRegularExpression("cut-over line (\\d+)\\(").globalMatch(QString::fromUtf8(text));
        int next = cut.value(0, 1) == 1 ? 1 : -1;
        for (int number = 0; matches.hasNext(); next = number + 1) {
            number = matches.next().captured(1).toInt();
            QVERIFY2(next < 0 || number == next, qPrintable(QString::number(number)));
        }
        QCOMPARE(next, rounds + 1);

        // The engine's log in folders of its own: the current and at most kept before it; its first file, beside
        // the tool's, went first.
        const QList<int> engine = Numbered(dump, "Engine.", "");
        const int engineCuts = engine.value(engine.size() - 1, 0);
        QCOMPARE(engineCuts >= 2, cuts);
        QCOMPARE(engine.size(), kept > 0 ? std::min(kept + 1, engineCuts) : engineCuts);
        QCOMPARE(QFileInfo::exists(dump + "quillon_engine.log"), kept == 0 || engineCuts <= kept);
        const QString current = engine.isEmpty() ? dump : dump + QStringLiteral("Engine.%1/").arg(engine.last());
        const qint64 before = QFileInfo(current + "quillon_engine.log").size();
        quillon_destroy_session(quillon_create_session());
        QVERIFY(QFileInfo(current + "quillon_engine.log").size() > before);
    }
};

QTEST_GUILESS_MAIN(TestLogCutOver)
#include "tst_LogCutOver.moc"
