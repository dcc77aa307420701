#include "ParserTestSupport.h"
#include "XML/parser/DeviceChksumParser.h"
#include "XML/parser/LoadChksumParser.h"

#include <QtTest>

using namespace ParserTestSupport;

namespace {

using LoadMap = QHash<QString, QString>;
using DeviceMap = DeviceChksumParser::ChecksumMap;

QString WriteDocument(const QString& name, const QByteArray& bytes)
{
    const QString path = MakeCleanFolder(QStringLiteral("lists")) + QLatin1Char('/') + name;
    return WriteFile(path, bytes) ? path : QString();
}

} // namespace

class TestChksumParser : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void loadListEntries_data();
    void loadListEntries();
    void loadEntryWithoutNameEndsTheParseKeepingEarlierEntries_data();
    void loadEntryWithoutNameEndsTheParseKeepingEarlierEntries();
    void loadListMayBeLargerThanTheOtherDocuments();
    void deviceFeedbackEntries_data();
    void deviceFeedbackEntries();
    void deviceItemWithoutFileEndsTheParseKeepingEarlierEntries();
};

void TestChksumParser::initTestCase()
{
    StartLogging();
}

void TestChksumParser::loadListEntries_data()
{
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<LoadMap>("expected");

    QTest::newRow("no images") << QByteArray("<checksum_list><other/></checksum_list>") << LoadMap{};
    QTest::newRow("images without file")
        << QByteArray("<checksum_list><images><image name='a.img' checksum='1'/></images></checksum_list>")
        << LoadMap{};
    QTest::newRow("entries before the first file do not count")
        << QByteArray("<l><images><entry name='early.img' checksum='1'/><file name='a.img' checksum='2'/>"
                      "</images></l>")
        << LoadMap{{"a.img", "2"}};
    QTest::newRow("any element after the first file counts")
        << QByteArray("<l><images><file name='a.img' checksum='1'/><image name='b.img' checksum='2'/>"
                      "<file name='c.img' checksum='3'/></images></l>")
        << LoadMap{{"a.img", "1"}, {"b.img", "2"}, {"c.img", "3"}};
    QTest::newRow("only the first images element is read")
        << QByteArray("<l><images><file name='a.img' checksum='1'/></images>"
                      "<images><file name='b.img' checksum='2'/></images></l>")
        << LoadMap{{"a.img", "1"}};
    QTest::newRow("later entry of one name wins")
        << QByteArray("<l><images><file name='a.img' checksum='old'/><file name='a.img' checksum='new'/>"
                      "</images></l>")
        << LoadMap{{"a.img", "new"}};
    QTest::newRow("missing checksum is empty")
        << QByteArray("<l><images><file name='a.img'/></images></l>") << LoadMap{{"a.img", ""}};
    QTest::newRow("names and checksums are kept as written")
        << QByteArray("<l><images><file name=' System.IMG ' checksum='ABCdef '/><file name='system.img' "
                      "checksum='abcdef'/></images></l>")
        << LoadMap{{" System.IMG ", "ABCdef "}, {"system.img", "abcdef"}};
    QTest::newRow("root name is not checked")
        << QByteArray("<anything><images><file name='a.img' checksum='1'/></images></anything>")
        << LoadMap{{"a.img", "1"}};
}

void TestChksumParser::loadListEntries()
{
    QFETCH(QByteArray, document);
    QFETCH(LoadMap, expected);
    LoadChksumParser parser;
    QVERIFY2(parser.ParseXMLFile(WriteDocument(QStringLiteral("scatter_checksum.xml"), document)),
             qPrintable(parser.GetErrorMsg()));
    QCOMPARE(parser.GetChecksumMap(), expected);
}

void TestChksumParser::loadEntryWithoutNameEndsTheParseKeepingEarlierEntries_data()
{
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<QString>("index");
    QTest::newRow("a file without name")
        << QByteArray("<l><images><file name='a.img' checksum='1'/><file checksum='2'/><file checksum='3'/>"
                      "<file name='d.img' checksum='4'/></images></l>")
        << QStringLiteral("1");
    QTest::newRow("another element without name")
        << QByteArray("<l><images><file name='a.img' checksum='1'/><comment text='x'/><file checksum='3'/>"
                      "<file name='d.img' checksum='4'/></images></l>")
        << QStringLiteral("1");
}

void TestChksumParser::loadEntryWithoutNameEndsTheParseKeepingEarlierEntries()
{
    QFETCH(QByteArray, document);
    QFETCH(QString, index);
    const LogCapture log;
    LoadChksumParser parser;
    QVERIFY(!parser.ParseXMLFile(WriteDocument(QStringLiteral("scatter_checksum.xml"), document)));
    QCOMPARE(parser.GetChecksumMap(), (LoadMap{{"a.img", "1"}}));
    QCOMPARE(
        parser.GetErrorMsg(),
        QStringLiteral("scatter_checksum.xml is invalid.\nPlease select the correct scatter_checksum.xml."));
    const QString message = QStringLiteral("file(index %1) node has NO name attribute").arg(index);
    QCOMPARE(
        log.Count(QStringLiteral("LoadChksumParser::ParseDocument"), message, QStringLiteral("ChksumParser")),
        1);
    QCOMPARE(log.CountContaining(QStringLiteral("LoadChksumParser::ParseDocument"), QStringLiteral("NO")), 1);
}

void TestChksumParser::loadListMayBeLargerThanTheOtherDocuments()
{
    // About 3 MiB: over the cap of a flash XML or a feedback file, well inside a checksum list's.
    QByteArray document = "<l><images>";
    for (int i = 0; i < 40000; ++i) {
        document += "<file name='image_" + QByteArray::number(i) + ".img' checksum='0123456789abcdef'/>\n";
    }
    document += "</images></l>";
    QVERIFY(document.size() > 2 * 1024 * 1024);
    const QString path = WriteDocument(QStringLiteral("scatter_checksum.xml"), document);

    LoadChksumParser parser;
    QVERIFY2(parser.ParseXMLFile(path), qPrintable(parser.GetErrorMsg()));
    QCOMPARE(parser.GetChecksumMap().size(), 40000);
    QCOMPARE(parser.GetChecksumMap().value(QStringLiteral("image_39999.img")),
             QStringLiteral("0123456789abcdef"));

    DeviceChksumParser feedback;
    QVERIFY(!feedback.ParseXMLFile(path));
}

void TestChksumParser::deviceFeedbackEntries_data()
{
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<DeviceMap>("expected");

    using Entry = QPair<QString, QString>;
    QTest::newRow("no item") << QByteArray("<feedback><image file='a.img'/></feedback>") << DeviceMap{};
    QTest::newRow("key is the name after the last slash or backslash")
        << QByteArray("<feedback><item file='C:\\load\\system.img' image_chksum='1' pt='system'/>"
                      "<item file='/srv/load/boot.img' image_chksum='2' pt='boot'/>"
                      "<item file='mixed/sub\\vendor.img' image_chksum='3' pt='vendor'/>"
                      "<item file='plain.img' image_chksum='4' pt='plain'/></feedback>")
        << DeviceMap{{"system.img", Entry("1", "system")},
                     {"boot.img", Entry("2", "boot")},
                     {"vendor.img", Entry("3", "vendor")},
                     {"plain.img", Entry("4", "plain")}};
    QTest::newRow("entries differing only in folder end as one, the later winning")
        << QByteArray("<feedback><item file='C:\\a\\system.img' image_chksum='old' pt='p1'/>"
                      "<item file='D:/b/system.img' image_chksum='new' pt='p2'/></feedback>")
        << DeviceMap{{"system.img", Entry("new", "p2")}};
    QTest::newRow("any element after the first item counts, none before it")
        << QByteArray("<feedback><early file='e.img' image_chksum='0'/><item file='a.img' image_chksum='1' "
                      "pt='A'/><other file='b.img' image_chksum='2' pt='B'/></feedback>")
        << DeviceMap{{"a.img", Entry("1", "A")}, {"b.img", Entry("2", "B")}};
    QTest::newRow("missing checksum and partition are empty")
        << QByteArray("<feedback><item file='a.img'/></feedback>") << DeviceMap{{"a.img", Entry("", "")}};
    QTest::newRow("nested items do not count")
        << QByteArray("<feedback><group><item file='n.img' image_chksum='1'/></group></feedback>")
        << DeviceMap{};
}

void TestChksumParser::deviceFeedbackEntries()
{
    QFETCH(QByteArray, document);
    QFETCH(DeviceMap, expected);
    DeviceChksumParser parser;
    QVERIFY2(parser.ParseXMLFile(WriteDocument(QStringLiteral("DownloadImageFeedback_0.xml"), document)),
             qPrintable(parser.GetErrorMsg()));
    QCOMPARE(parser.GetChecksumMap(), expected);
}

void TestChksumParser::deviceItemWithoutFileEndsTheParseKeepingEarlierEntries()
{
    const QByteArray document =
        "<feedback><item file='a.img' image_chksum='1' pt='A'/><item image_chksum='2'/>"
        "<item pt='C'/><item file='d.img' image_chksum='4'/></feedback>";
    const LogCapture log;
    DeviceChksumParser parser;
    QVERIFY(!parser.ParseXMLFile(WriteDocument(QStringLiteral("DownloadImageFeedback_2.xml"), document)));
    QCOMPARE(parser.GetChecksumMap(), (DeviceMap{{"a.img", qMakePair(QString("1"), QString("A"))}}));
    QCOMPARE(parser.GetErrorMsg(),
             QStringLiteral("DownloadImageFeedback_2.xml is invalid.\nPlease select the "
                            "correct DownloadImageFeedback_2.xml."));
    QCOMPARE(log.Count(QStringLiteral("DeviceChksumParser::ParseDocument"),
                       QStringLiteral("item(index 1) node has NO file attribute"),
                       QStringLiteral("ChksumParser")),
             1);
    QCOMPARE(log.CountContaining(QStringLiteral("DeviceChksumParser::ParseDocument"), QStringLiteral("NO")),
             1);
}

QTEST_GUILESS_MAIN(TestChksumParser)
#include "tst_chksumparser.moc"
