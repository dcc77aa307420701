#include "ParserTestSupport.h"
#include "XML/DownloadImageFeedbackCheck.h"
#include "XML/ICmdXMLGenerator.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QtTest>

#include <atomic>
#include <thread>
#include <vector>

using namespace ParserTestSupport;

namespace {

const QString kCallback = QStringLiteral("ICmdXMLGenerator::CbGetDownloadImageFeedback");
const QString kSource = QStringLiteral("ICmdXMLGenerator");

struct Image
{
    QByteArray file;
    QByteArray partition;
    QByteArray deviceChecksum;
    QByteArray loadChecksum;
};

QByteArray FeedbackDocument(const QVector<Image>& images)
{
    QByteArray document = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<feedback>\n";
    for (const Image& image : images) {
        document += "  <item file=\"C:\\load\\" + image.file + "\" image_chksum=\"" + image.deviceChecksum +
                    "\" pt=\"" + image.partition + "\"/>\n";
    }
    return document + "</feedback>\n";
}

QByteArray ChecksumList(const QVector<Image>& images)
{
    QByteArray document = "<checksum_list>\n  <images>\n";
    for (const Image& image : images) {
        document += "    <file name=\"" + image.file + "\" checksum=\"" + image.loadChecksum + "\"/>\n";
    }
    return document + "  </images>\n</checksum_list>\n";
}

QString ComparisonLine(const Image& image)
{
    return QStringLiteral(
               "Downloaded Checksum: Partition[%1], image file[%2], device downloaded checksum[%3], "
               "load checksum[%4]")
        .arg(QString::fromUtf8(image.partition), QString::fromUtf8(image.file),
             QString::fromUtf8(image.deviceChecksum), QString::fromUtf8(image.loadChecksum));
}

// A load folder with its checksum list; returns the scatter path inside it.
QString MakeLoad(const QVector<Image>& images)
{
    const QString folder = MakeCleanFolder(QStringLiteral("load"));
    WriteFile(folder + QStringLiteral("/scatter_checksum.xml"), ChecksumList(images));
    return folder + QStringLiteral("/load_scatter.txt");
}

bool WriteFeedback(int portIndex, const QByteArray& document)
{
    return WriteFile(ICmdXMLGenerator::FeedbackFilePath(portIndex), document);
}

} // namespace

Q_DECLARE_METATYPE(Image)

class TestFeedbackCheck : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void matchingImagesPassWithOneLinePerComparison();
    void comparisonRules_data();
    void comparisonRules();
    void firstOfTwoDifferencesEndsTheComparison();
    void sessionIndexNamesTheFileAndRecordIndexIsLogged();
    void unreadableFeedbackFails_data();
    void unreadableFeedbackFails();
    void missingChecksumListFails_data();
    void missingChecksumListFails();
    void unreadableChecksumListFails_data();
    void unreadableChecksumListFails();
    void feedbackFileIsKeptForInspection_data();
    void feedbackFileIsKeptForInspection();
    void comparisonTouchesNoOtherPortsFeedback();
    void aCheckedListIsComparedWhateverTheFileSaysNow_data();
    void aCheckedListIsComparedWhateverTheFileSaysNow();
    void sixteenPortsCompareAtOnceEachByItsOwnFeedback();
};

void TestFeedbackCheck::initTestCase()
{
    StartLogging();
}

void TestFeedbackCheck::matchingImagesPassWithOneLinePerComparison()
{
    const QVector<Image> images = {{"system.img", "system", "1f2e3d4c5b6a7988", "1f2e3d4c5b6a7988"},
                                   {"boot.img", "boot", "0000000000000001", "0000000000000001"},
                                   {"vendor.img", "vendor", "aaaaaaaaaaaaaaaa", "aaaaaaaaaaaaaaaa"}};
    const QString scatter = MakeLoad(images);
    QVERIFY(WriteFeedback(0, FeedbackDocument(images)));
    const LogCapture log;
    QCOMPARE(CbGetDownloadImageFeedback(0, scatter, 0), 0);
    for (const Image& image : images) {
        QCOMPARE(log.Count(kCallback, ComparisonLine(image), kSource), 1);
    }
    QCOMPARE(log.Count(kCallback,
                       QStringLiteral("load_chksum_file = ") + QFileInfo(scatter).absolutePath() +
                           QStringLiteral("/scatter_checksum.xml"),
                       kSource),
             1);
    QCOMPARE(log.CountContaining(kCallback, QStringLiteral("Error")), 0);
}

void TestFeedbackCheck::comparisonRules_data()
{
    QTest::addColumn<QVector<Image>>("deviceSide");
    QTest::addColumn<QVector<Image>>("loadSide");
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("comparisons");

    const Image ok{"a.img", "a", "abcdef0123456789", "abcdef0123456789"};
    QTest::newRow("checksums differing in letter case fail")
        << QVector<Image>{{"a.img", "a", "ABCDEF0123456789", ""}}
        << QVector<Image>{{"a.img", "", "", "abcdef0123456789"}} << -1 << 1;
    QTest::newRow("image the load does not list is skipped")
        << QVector<Image>{ok, {"extra.img", "x", "1234", ""}} << QVector<Image>{ok} << 0 << 1;
    QTest::newRow("empty load checksum is skipped") << QVector<Image>{ok, {"b.img", "b", "1234", ""}}
                                                    << QVector<Image>{ok, {"b.img", "", "", ""}} << 0 << 1;
    QTest::newRow("empty device checksum is skipped")
        << QVector<Image>{ok, {"b.img", "b", "", ""}} << QVector<Image>{ok, {"b.img", "", "", "1234"}} << 0
        << 1;
    QTest::newRow("every entry skipped passes")
        << QVector<Image>{{"b.img", "b", "", ""}, {"c.img", "c", "99", ""}}
        << QVector<Image>{{"b.img", "", "", "1234"}} << 0 << 0;
    QTest::newRow("image the device does not report is not examined")
        << QVector<Image>{ok} << QVector<Image>{ok, {"never.img", "", "", "5555"}} << 0 << 1;
    QTest::newRow("surrounding spaces make a difference")
        << QVector<Image>{{"a.img", "a", "abcd ", ""}} << QVector<Image>{{"a.img", "", "", "abcd"}} << -1
        << 1;
}

void TestFeedbackCheck::comparisonRules()
{
    QFETCH(QVector<Image>, deviceSide);
    QFETCH(QVector<Image>, loadSide);
    QFETCH(int, result);
    QFETCH(int, comparisons);
    const QString scatter = MakeLoad(loadSide);
    QVERIFY(WriteFeedback(1, FeedbackDocument(deviceSide)));
    const LogCapture log;
    QCOMPARE(CbGetDownloadImageFeedback(1, scatter, 1), result);
    QCOMPARE(log.CountContaining(kCallback, QStringLiteral("Downloaded Checksum: ")), comparisons);
    QCOMPARE(log.Count(kCallback, QStringLiteral("Downloaded Checksum Error"), kSource), result == 0 ? 0 : 1);
    QCOMPARE(CheckDownloadImageFeedback(1, scatter, 1),
             result == 0 ? FeedbackCheck::Match : FeedbackCheck::Mismatch);
}

void TestFeedbackCheck::firstOfTwoDifferencesEndsTheComparison()
{
    QVector<Image> deviceSide;
    QVector<Image> loadSide;
    for (int i = 0; i < 8; ++i) {
        const QByteArray name = "ok" + QByteArray::number(i) + ".img";
        deviceSide.append({name, "p", "11", ""});
        loadSide.append({name, "", "", "11"});
    }
    deviceSide.append({"bad1.img", "p1", "d1", ""});
    deviceSide.append({"bad2.img", "p2", "d2", ""});
    loadSide.append({"bad1.img", "", "", "l1"});
    loadSide.append({"bad2.img", "", "", "l2"});
    const QString scatter = MakeLoad(loadSide);
    QVERIFY(WriteFeedback(4, FeedbackDocument(deviceSide)));

    const LogCapture log;
    QCOMPARE(CbGetDownloadImageFeedback(4, scatter, 4), -1);
    QCOMPARE(log.Count(kCallback, QStringLiteral("Downloaded Checksum Error"), kSource), 1);
    // The map's own order decides which difference is met first; nothing after it is compared.
    const int first = log.Count(kCallback, ComparisonLine({"bad1.img", "p1", "d1", "l1"}), kSource);
    const int second = log.Count(kCallback, ComparisonLine({"bad2.img", "p2", "d2", "l2"}), kSource);
    QCOMPARE(first + second, 1);
    const QStringList lines = log.Lines();
    QVERIFY(!lines.isEmpty());
    QVERIFY(lines.last().contains(QStringLiteral("Downloaded Checksum Error")));
    QVERIFY(lines.at(lines.size() - 2)
                .contains(first == 1 ? QStringLiteral("image file[bad1.img]")
                                     : QStringLiteral("image file[bad2.img]")));
}

void TestFeedbackCheck::sessionIndexNamesTheFileAndRecordIndexIsLogged()
{
    const QVector<Image> images = {{"a.img", "a", "01", "01"}};
    const QString scatter = MakeLoad(images);
    QFile::remove(ICmdXMLGenerator::FeedbackFilePath(3));
    QVERIFY(WriteFeedback(2, FeedbackDocument(images)));

    const LogCapture wrongPort;
    QCOMPARE(CbGetDownloadImageFeedback(2, scatter, 3), -1);
    QCOMPARE(wrongPort.Count(kCallback, QStringLiteral("CbGetDownloadImageFeedback, index = 2"), kSource), 1);
    QCOMPARE(wrongPort.Count(kCallback, QStringLiteral("Parse device checksum failed"), kSource), 1);

    const LogCapture rightPort;
    QCOMPARE(CbGetDownloadImageFeedback(7, scatter, 2), 0);
    QCOMPARE(rightPort.Count(kCallback, QStringLiteral("CbGetDownloadImageFeedback, index = 7"), kSource), 1);
    QVERIFY(rightPort.Lines().first().contains(QStringLiteral("CbGetDownloadImageFeedback, index = 7")));
}

void TestFeedbackCheck::unreadableFeedbackFails_data()
{
    QTest::addColumn<QByteArray>("feedback");
    QTest::addColumn<bool>("present");
    QTest::newRow("missing") << QByteArray() << false;
    QTest::newRow("malformed") << QByteArray("<feedback><item file='a.img'") << true;
    QTest::newRow("item without file") << QByteArray("<feedback><item file='a.img' image_chksum='01'/>"
                                                     "<item image_chksum='02'/></feedback>")
                                       << true;
    QTest::newRow("document type declaration")
        << QByteArray("<!DOCTYPE feedback [<!ENTITY x 'a.img'>]><feedback><item file='&x;'/></feedback>")
        << true;
}

void TestFeedbackCheck::unreadableFeedbackFails()
{
    QFETCH(QByteArray, feedback);
    QFETCH(bool, present);
    const QString scatter = MakeLoad({{"a.img", "a", "01", "01"}});
    QFile::remove(ICmdXMLGenerator::FeedbackFilePath(5));
    if (present) {
        QVERIFY(WriteFeedback(5, feedback));
    }
    const LogCapture log;
    QCOMPARE(CbGetDownloadImageFeedback(5, scatter, 5), -1);
    QCOMPARE(log.Count(kCallback, QStringLiteral("Parse device checksum failed"), kSource), 1);
    QCOMPARE(log.CountContaining(kCallback, QStringLiteral("load_chksum_file")), 0);
    QCOMPARE(CheckDownloadImageFeedback(5, scatter, 5), FeedbackCheck::FeedbackUnreadable);
}

void TestFeedbackCheck::missingChecksumListFails_data()
{
    QTest::addColumn<QString>("scatter");
    QTest::addColumn<QString>("listPath");
    const QString folder = QDir::current().absoluteFilePath(QStringLiteral("emptyload"));
    QTest::newRow("no list beside the scatter file")
        << folder + QStringLiteral("/load_scatter.txt") << folder + QStringLiteral("/scatter_checksum.xml");
    const QString missingFolder = QDir::current().absoluteFilePath(QStringLiteral("gone/load_scatter.txt"));
    QTest::newRow("scatter folder that cannot be entered")
        << missingFolder << missingFolder + QStringLiteral("/scatter_checksum.xml");
    QTest::newRow("relative scatter path resolves against the working folder")
        << QStringLiteral("emptyload/load_scatter.txt") << folder + QStringLiteral("/scatter_checksum.xml");
}

void TestFeedbackCheck::missingChecksumListFails()
{
    QFETCH(QString, scatter);
    QFETCH(QString, listPath);
    MakeCleanFolder(QStringLiteral("emptyload"));
    QDir(QDir::current().absoluteFilePath(QStringLiteral("gone"))).removeRecursively();
    QVERIFY(WriteFeedback(6, FeedbackDocument({{"a.img", "a", "01", "01"}})));
    const LogCapture log;
    QCOMPARE(CbGetDownloadImageFeedback(6, scatter, 6), -1);
    QCOMPARE(log.Count(kCallback, QStringLiteral("load_chksum_file = ") + listPath, kSource), 1);
    QCOMPARE(log.Count(kCallback, QStringLiteral("load_chksum_file not exist"), kSource), 1);
    QCOMPARE(CheckDownloadImageFeedback(6, scatter, 6), FeedbackCheck::LoadListMissing);
}

void TestFeedbackCheck::unreadableChecksumListFails_data()
{
    QTest::addColumn<QByteArray>("list");
    QTest::newRow("malformed") << QByteArray("<checksum_list><images><file name='a.img'");
    QTest::newRow("entry without name")
        << QByteArray("<checksum_list><images><file checksum='01'/></images></checksum_list>");
    QTest::newRow("nested too deep") << QByteArray(100, '<').replace('<', "<x>") +
                                            QByteArray("</x>").repeated(100);
}

void TestFeedbackCheck::unreadableChecksumListFails()
{
    QFETCH(QByteArray, list);
    const QString folder = MakeCleanFolder(QStringLiteral("load"));
    QVERIFY(WriteFile(folder + QStringLiteral("/scatter_checksum.xml"), list));
    QVERIFY(WriteFeedback(8, FeedbackDocument({{"a.img", "a", "01", "01"}})));
    const LogCapture log;
    QCOMPARE(CbGetDownloadImageFeedback(8, folder + QStringLiteral("/load_scatter.txt"), 8), -1);
    QCOMPARE(log.Count(kCallback, QStringLiteral("Parse load checksum failed"), kSource), 1);
    QCOMPARE(CheckDownloadImageFeedback(8, folder + QStringLiteral("/load_scatter.txt"), 8),
             FeedbackCheck::LoadListUnreadable);
}

void TestFeedbackCheck::feedbackFileIsKeptForInspection_data()
{
    QTest::addColumn<QByteArray>("feedback");
    QTest::addColumn<bool>("listPresent");
    QTest::addColumn<int>("result");
    const QVector<Image> matching = {{"a.img", "a", "01", "01"}};
    QTest::newRow("match") << FeedbackDocument(matching) << true << 0;
    QTest::newRow("difference") << FeedbackDocument({{"a.img", "a", "02", ""}}) << true << -1;
    QTest::newRow("malformed feedback") << QByteArray("<feedback>") << true << -1;
    QTest::newRow("checksum list missing") << FeedbackDocument(matching) << false << -1;
}

void TestFeedbackCheck::feedbackFileIsKeptForInspection()
{
    QFETCH(QByteArray, feedback);
    QFETCH(bool, listPresent);
    QFETCH(int, result);
    QString scatter = MakeLoad({{"a.img", "a", "01", "01"}});
    if (!listPresent) {
        scatter = MakeCleanFolder(QStringLiteral("emptyload")) + QStringLiteral("/load_scatter.txt");
    }
    QVERIFY(WriteFeedback(9, feedback));
    QCOMPARE(CbGetDownloadImageFeedback(9, scatter, 9), result);
    QCOMPARE(TestFiles::ReadFile(ICmdXMLGenerator::FeedbackFilePath(9)), feedback);
}

Q_DECLARE_METATYPE(FeedbackCheck)

void TestFeedbackCheck::aCheckedListIsComparedWhateverTheFileSaysNow_data()
{
    QTest::addColumn<QByteArray>("checked"); // the list as the load's check read it
    QTest::addColumn<QByteArray>("onDisk");  // the file beside the scatter file now; empty: removed
    QTest::addColumn<QByteArray>("device");
    QTest::addColumn<FeedbackCheck>("check");
    const QByteArray checked = ChecksumList({{"a.img", "a", "", "01"}});
    const QByteArray rewritten = ChecksumList({{"a.img", "a", "", "02"}});
    QTest::newRow("the list rewritten to match a changed image") << checked << rewritten << QByteArray("02")
                                                                 << FeedbackCheck::Mismatch;
    QTest::newRow("the checked image, the list rewritten") << checked << rewritten << QByteArray("01")
                                                           << FeedbackCheck::Match;
    QTest::newRow("the list removed") << checked << QByteArray() << QByteArray("01") << FeedbackCheck::Match;
    QTest::newRow("a checked list that does not parse") << QByteArray("<checksum_list>") << checked << QByteArray("01")
                                                        << FeedbackCheck::LoadListUnreadable;
}

void TestFeedbackCheck::aCheckedListIsComparedWhateverTheFileSaysNow()
{
    QFETCH(QByteArray, checked);
    QFETCH(QByteArray, onDisk);
    QFETCH(QByteArray, device);
    QFETCH(FeedbackCheck, check);
    const QString folder = MakeCleanFolder(QStringLiteral("checkedload"));
    if (!onDisk.isEmpty())
        QVERIFY(WriteFile(folder + QStringLiteral("/scatter_checksum.xml"), onDisk));
    QVERIFY(WriteFeedback(13, FeedbackDocument({{"a.img", "a", device, ""}})));
    const LogCapture log;
    const FeedbackOutcome outcome =
        CompareDownloadImageFeedback(13, folder + QStringLiteral("/load_scatter.txt"), 13, checked);
    QCOMPARE(outcome.check, check);
    // The log names the list's file as before, whatever was compared.
    QCOMPARE(log.CountContaining(kCallback, QStringLiteral("load_chksum_file = ")), 1);
    QCOMPARE(log.Count(kCallback, QStringLiteral("load_chksum_file not exist"), kSource), 0);
}

void TestFeedbackCheck::comparisonTouchesNoOtherPortsFeedback()
{
    const QVector<Image> images = {{"system.img", "system", "1f2e3d4c5b6a7988", "1f2e3d4c5b6a7988"}};
    const QString scatter = MakeLoad(images);
    const QByteArray other = FeedbackDocument({{"system.img", "system", "0000000000000000", ""}});
    QVERIFY(WriteFeedback(12, other));
    QVERIFY(WriteFeedback(11, FeedbackDocument(images)));
    QCOMPARE(CbGetDownloadImageFeedback(11, scatter, 11), 0);
    QCOMPARE(TestFiles::ReadFile(ICmdXMLGenerator::FeedbackFilePath(12)), other);
}

void TestFeedbackCheck::sixteenPortsCompareAtOnceEachByItsOwnFeedback()
{
    // Every port's worker runs its comparison in its own thread against the one shared checksum list.
    const QVector<Image> load = {{"system.img", "system", "", "1111"}, {"boot.img", "boot", "", "2222"}};
    const QString scatter = MakeLoad(load);
    const QByteArray matching =
        FeedbackDocument({{"system.img", "system", "1111", ""}, {"boot.img", "boot", "2222", ""}});
    const QByteArray differing =
        FeedbackDocument({{"system.img", "system", "1111", ""}, {"boot.img", "boot", "2223", ""}});
    constexpr int kPorts = 16;
    constexpr int kDevicesPerPort = 10;
    std::atomic<int> wrongResults{0};
    std::atomic<int> failedWrites{0};
    std::vector<std::thread> workers;
    for (int port = 0; port < kPorts; ++port) {
        workers.emplace_back([&, port] {
            for (int device = 0; device < kDevicesPerPort; ++device) {
                const bool good = (port + device) % 2 == 0;
                if (!WriteFeedback(port, good ? matching : differing)) {
                    ++failedWrites;
                }
                if (CbGetDownloadImageFeedback(port, scatter, port) != (good ? 0 : -1)) {
                    ++wrongResults;
                }
            }
        });
    }
    for (std::thread& worker : workers) {
        worker.join();
    }
    QCOMPARE(failedWrites.load(), 0);
    QCOMPARE(wrongResults.load(), 0);
}

QTEST_GUILESS_MAIN(TestFeedbackCheck)
#include "tst_feedbackcheck.moc"
