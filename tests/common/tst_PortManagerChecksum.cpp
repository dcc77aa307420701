// The load check as the port manager runs it against the image checker: what the operator sees and the log
// says for each outcome, and the text of the checksum bar.
#include "PortTestSupport.h"
#include "TestFiles.h"
#include "TestFrontEnd.h"

#include "common/LoadContents.h"
#include "common/PortManager.h"

#include <QDir>
#include <QFile>
#include <QtTest>

#include <functional>
#include <memory>
#include <thread>

using namespace PortTestSupport;
using ParserTestSupport::LogCapture;

namespace {

const QString kFunction = QStringLiteral("DeviceInstance::VerifyChecksum");
const QString kSource = QStringLiteral("DeviceInstance");
const QString kDone = QStringLiteral("Verify Checksum Done!");
const QString kNotFound = QStringLiteral("Image Checksum XML Not Found!");
const QString kUnknown = QStringLiteral("Unknown Error Occured When Verifying Checksum!");
const QString kBox = QStringLiteral(
    "Critical|Critical|Failed to Verify Checksum!\nPlease Regenerate scatter_checksum.xml File");

// The test front end, with the checksum bar and the boxes recorded in one ordered list.
class ChecksumFrontEnd : public TestFrontEnd
{
public:
    explicit ChecksumFrontEnd(PortManager& manager) : TestFrontEnd(manager)
    {
        connect(&manager, &PortManager::SigSetMWProgressBarVisible, this, [this](QString name, bool visible) {
            events << QStringLiteral("visible %1 %2").arg(name).arg(visible ? 1 : 0);
        });
        // The text points into the sender's frame, so it is copied during the call, as the window does.
        connect(&manager, &PortManager::SigSetMWProgressBarState, this,
                [this](QString name, uint percent, quint64 transferred, const char* info) {
                    events << QStringLiteral("state %1 %2").arg(name).arg(percent);
                    texts << QString::fromUtf8(info);
                    lastTransferred = transferred;
                });
    }

    void Tell(Kind kind, const QString& title, const QString& text) override
    {
        events << QStringLiteral("box");
        TestFrontEnd::Tell(kind, title, text);
    }

    QStringList events;
    QStringList texts;
    quint64 lastTransferred = 0;
};

struct Station
{
    Station() : manager(std::make_unique<PortManager>()), frontEnd(*manager) {}
    std::unique_ptr<PortManager> manager;
    ChecksumFrontEnd frontEnd;
};

using LoadChange = std::function<QString(const simtest::SampleLoad&)>;

QString LongName(int length)
{
    QString name = QStringLiteral("system_");
    while (name.size() < length - 4)
        name += QLatin1Char('x');
    return name + QStringLiteral(".img");
}

} // namespace

Q_DECLARE_METATYPE(LoadChange)

class PortManagerChecksumTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void outcomeReachesLogBoxAndResult_data();
    void outcomeReachesLogBoxAndResult();
    void loadProblemNamesWhatTheCheckerMayLetPass_data();
    void loadProblemNamesWhatTheCheckerMayLetPass();
    void progressTextIsCutToFiftyNineBytes_data();
    void progressTextIsCutToFiftyNineBytes();
    void progressFromAnotherThreadIsDropped();
    void barTextNamesEachImageDuringAVerification_data();
    void barTextNamesEachImageDuringAVerification();

private:
    QString Folder(const QString& name) const { return QDir::current().absoluteFilePath(name); }
};

void PortManagerChecksumTest::initTestCase()
{
    ParserTestSupport::StartLogging();
}

void PortManagerChecksumTest::outcomeReachesLogBoxAndResult_data()
{
    QTest::addColumn<LoadChange>("change");
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("logLine");
    QTest::addColumn<QString>("refusal"); // what the box's detail says of a load the checker passed

    const LoadChange unchanged = [](const simtest::SampleLoad& load) { return load.flashXmlPath; };
    QTest::newRow("load verifies") << unchanged << 0 << kDone << QString();
    QTest::newRow("checksum list missing") << LoadChange([](const simtest::SampleLoad& load) {
        QFile::remove(QDir(load.folder).filePath(QStringLiteral("scatter_checksum.xml")));
        return load.flashXmlPath;
    }) << -1 << kNotFound << QString();
    QTest::newRow("image does not match its checksum") << LoadChange([](const simtest::SampleLoad& load) {
        QFile image(QDir(load.folder).filePath(QStringLiteral("system.img")));
        if (image.open(QIODevice::ReadWrite) && image.seek(image.size() - 1)) {
            char byte = 0;
            image.getChar(&byte);
            image.seek(image.size() - 1);
            image.putChar(char(byte ^ 0x80));
        }
        return load.flashXmlPath;
    }) << -1 << kUnknown << QString();
    QTest::newRow("no flash XML chosen")
        << LoadChange([](const simtest::SampleLoad&) { return QString(); }) << -1 << kUnknown << QString();
    QTest::newRow("flash XML that does not parse") << LoadChange([](const simtest::SampleLoad& load) {
        QFile::remove(QDir(load.folder).filePath(QStringLiteral("flash.xsd")));
        return load.flashXmlPath;
    }) << -1 << kUnknown << QString();
    // The checker compares only what the list names: a load that writes nothing passes it.
    const auto scatter = [](const QByteArray& text) {
        return LoadChange([text](const simtest::SampleLoad& load) {
            simtest::WriteFile(load.scatterPath, text);
            return load.flashXmlPath;
        });
    };
    QTest::newRow("empty scatter file") << scatter("") << -1 << kDone << QStringLiteral("no image to download");
    QTest::newRow("scatter file of comments") << scatter("# nothing\n   # here\n") << -1 << kDone
                                              << QStringLiteral("no image to download");
    QTest::newRow("every partition NONE") << scatter("preloader NONE\nsystem NONE # skipped\n") << -1 << kDone
                                          << QStringLiteral("no image to download");
}

void PortManagerChecksumTest::outcomeReachesLogBoxAndResult()
{
    QFETCH(LoadChange, change);
    QFETCH(int, result);
    QFETCH(QString, logLine);
    QFETCH(QString, refusal);
    const simtest::SampleLoad load = WriteStationLoad(Folder(QStringLiteral("outcome")), 64 * 1024);
    Station station;
    station.frontEnd.contents[QStringLiteral("leFlashXmlPath")] = change(load);
    const LogCapture log;

    QCOMPARE(station.manager->VerifyChecksum(), result);

    for (const QString& line : {kDone, kNotFound, kUnknown})
        QCOMPARE(log.Count(kFunction, line, kSource), line == logLine ? 1 : 0);
    const QStringList& events = station.frontEnd.events;
    QVERIFY(!events.isEmpty());
    QCOMPARE(events.first(), QStringLiteral("visible prbChecksum 1"));
    const int hidden = events.indexOf(QStringLiteral("visible prbChecksum 0"));
    QVERIFY(hidden > 0);
    QCOMPARE(events.count(QStringLiteral("visible prbChecksum 0")), 1);
    if (result == 0) {
        QCOMPARE(station.frontEnd.prompts, QStringList());
        QCOMPARE(hidden, events.size() - 1);
        QCOMPARE(events.at(hidden - 1), QStringLiteral("state prbChecksum 100"));
    } else if (!refusal.isEmpty()) {
        QCOMPARE(station.frontEnd.prompts.size(), 1);
        QVERIFY2(station.frontEnd.prompts.first().startsWith(kBox + QStringLiteral("\n\n") + refusal),
                 qPrintable(station.frontEnd.prompts.first()));
        QCOMPARE(log.CountContaining(kFunction, QStringLiteral("Load refused: ") + refusal), 1);
        QCOMPARE(station.manager->GetLoadProblem().left(refusal.size()), refusal);
    } else {
        QCOMPARE(station.frontEnd.prompts, QStringList{kBox});
        // The box comes after the bar is hidden, as the last thing the operator sees.
        QCOMPARE(events.mid(hidden),
                 (QStringList{QStringLiteral("visible prbChecksum 0"), QStringLiteral("box")}));
        QVERIFY(!events.contains(QStringLiteral("state prbChecksum 100")));
    }
    QCOMPARE(station.frontEnd.getsOffThread, 0);
}

// The stand-in checker refuses an unlisted image itself; a closed one in the field need not, so the tool's
// own reading is checked here directly.
void PortManagerChecksumTest::loadProblemNamesWhatTheCheckerMayLetPass_data()
{
    QTest::addColumn<QByteArray>("scatter");
    QTest::addColumn<QString>("problem");
    QTest::newRow("every image listed") << QByteArray("preloader preloader.bin\nsystem system.img\n") << QString();
    QTest::newRow("listed in another letter case") << QByteArray("system SYSTEM.IMG\n") << QString();
    QTest::newRow("image left out of the list")
        << QByteArray("preloader preloader.bin\nvendor vendor.img # new\n")
        << QStringLiteral("image vendor.img (partition vendor) is not in the checksum list");
    QTest::newRow("nothing to download") << QByteArray("userdata NONE\n") << QStringLiteral("no image to download");
}

void PortManagerChecksumTest::loadProblemNamesWhatTheCheckerMayLetPass()
{
    QFETCH(QByteArray, scatter);
    QFETCH(QString, problem);
    const simtest::SampleLoad load = WriteStationLoad(Folder(QStringLiteral("problem")), 1024);
    simtest::WriteFile(load.scatterPath, scatter);
    QCOMPARE(LoadContents::Problem(load.scatterPath).left(problem.size()), problem);
    QCOMPARE(LoadContents::Problem(load.scatterPath).isEmpty(), problem.isEmpty());
    QVERIFY(LoadContents::Problem(load.folder + QStringLiteral("/gone.txt")).contains(QStringLiteral("cannot be read")));
}

void PortManagerChecksumTest::progressTextIsCutToFiftyNineBytes_data()
{
    QTest::addColumn<QByteArray>("info");
    QTest::addColumn<QString>("text");
    const QByteArray fiftyNine(59, 'a');
    QTest::newRow("short name") << QByteArray("system.img") << QStringLiteral("system.img Checksum Progress");
    QTest::newRow("empty name") << QByteArray("") << QStringLiteral(" Checksum Progress");
    QTest::newRow("name of 41 characters")
        << QByteArray(41, 'b') << QString(QByteArray(41, 'b') + " Checksum Progress");
    QTest::newRow("name of 42 characters")
        << QByteArray(42, 'b') << QString(QByteArray(42, 'b') + " Checksum Progres");
    QTest::newRow("name of 50 characters")
        << QByteArray(50, 'c') << QString(QByteArray(50, 'c') + " Checksum");
    QTest::newRow("name of 59 characters") << fiftyNine << QString::fromLatin1(fiftyNine);
    QTest::newRow("name of 200 characters") << QByteArray(200, 'd') << QString(QByteArray(59, 'd'));
    QTest::newRow("percent sign kept for the window to escape")
        << QByteArray("100%p.img") << QStringLiteral("100%p.img Checksum Progress");
    // "é" takes two bytes; the cut would leave only the first of them.
    QTest::newRow("cut inside a two-byte character")
        << QByteArray(58, 'e') + "\xc3\xa9" << QString::fromLatin1(QByteArray(58, 'e'));
    QTest::newRow("cut after a two-byte character")
        << QByteArray(57, 'e') + "\xc3\xa9" << QString::fromUtf8(QByteArray(57, 'e') + "\xc3\xa9");
}

void PortManagerChecksumTest::progressTextIsCutToFiftyNineBytes()
{
    QFETCH(QByteArray, info);
    QFETCH(QString, text);
    Station station;
    PortManager::ChecksumProgress(station.manager.get(), 37, 123456789012ull, info.constData());
    QCOMPARE(station.frontEnd.texts, QStringList{text});
    QCOMPARE(station.frontEnd.events, QStringList{QStringLiteral("state prbChecksum 37")});
    QCOMPARE(station.frontEnd.lastTransferred, 123456789012ull);
    if (info.size() >= 59)
        QVERIFY(!text.contains(QStringLiteral("Checksum")) && !text.contains(QStringLiteral("Progress")));
}

void PortManagerChecksumTest::progressFromAnotherThreadIsDropped()
{
    Station station;
    std::thread other(
        [&station] { PortManager::ChecksumProgress(station.manager.get(), 50, 1, "system.img"); });
    other.join();
    QCoreApplication::processEvents();
    QCOMPARE(station.frontEnd.events, QStringList());
    PortManager::ChecksumProgress(station.manager.get(), 50, 1, "system.img");
    QCOMPARE(station.frontEnd.events, QStringList{QStringLiteral("state prbChecksum 50")});
}

void PortManagerChecksumTest::barTextNamesEachImageDuringAVerification_data()
{
    QTest::addColumn<QString>("imageName");
    QTest::addColumn<bool>("wordsRemain");
    QTest::newRow("short name") << QStringLiteral("system.img") << true;
    QTest::newRow("name of 59 characters") << LongName(59) << false;
    QTest::newRow("name of 90 characters") << LongName(90) << false;
}

void PortManagerChecksumTest::barTextNamesEachImageDuringAVerification()
{
    QFETCH(QString, imageName);
    QFETCH(bool, wordsRemain);
    const QString folder = Folder(QStringLiteral("named"));
    QDir(folder).removeRecursively();
    simtest::SampleLoad load =
        simtest::WriteLoad(folder, {{QStringLiteral("system"), imageName, 3 * 1024 * 1024}});
    simtest::WriteFile(QDir(folder).filePath(QStringLiteral("flash.xsd")), "<xs:schema/>\n");
    load.flashXmlPath =
        simtest::WriteFile(QDir(folder).filePath(QStringLiteral("flash.xml")),
                           "<flash><scatter>load_scatter.txt</scatter><contact>x</contact></flash>\n");
    Station station;
    station.frontEnd.contents[QStringLiteral("leFlashXmlPath")] = load.flashXmlPath;

    QCOMPARE(station.manager->VerifyChecksum(), 0);
    const QString expected =
        wordsRemain ? imageName + QStringLiteral(" Checksum Progress") : imageName.left(59);
    QVERIFY(!station.frontEnd.texts.isEmpty());
    for (const QString& text : station.frontEnd.texts)
        QCOMPARE(text, expected);
}

QTEST_GUILESS_MAIN(PortManagerChecksumTest)
#include "tst_PortManagerChecksum.moc"
