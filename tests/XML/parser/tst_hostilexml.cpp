#include "ParserTestSupport.h"
#include "XML/parser/DeviceChksumParser.h"
#include "XML/parser/FlashXMLParser.h"
#include "XML/parser/GuardedXmlReader.h"
#include "XML/parser/LoadChksumParser.h"
#include "XML/parser/SecDevFWInfoParser.h"
#include "XML/parser/SysPropsParser.h"

#include <QDomDocument>
#include <QFile>
#include <QRegularExpression>
#include <QTextCodec>
#include <QtTest>

#include <memory>
#include <sys/resource.h>

using namespace ParserTestSupport;

namespace {

enum class Hostile
{
    BillionLaughs,
    QuadraticBlowup,
    DeepNesting,
    OneLevelTooDeep,
    ExternalEntity,
    ExternalDtd,
    HarmlessDoctype,
    InvalidUtf8,
    OverlongUtf8,
    TruncatedUtf8AtEnd,
    NulByte,
    ManyAttributes,
    HugeTextNode,
    UndeclaredEntity,
    OverTheCap
};

// Peak resident memory of the process so far, in KiB.
long PeakRssKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

long baselinePeakKiB = 0;

QByteArray Repeat(const QByteArray& piece, int times)
{
    return piece.repeated(times);
}

QByteArray BillionLaughs()
{
    QByteArray document = "<?xml version=\"1.0\"?>\n<!DOCTYPE lolz [\n <!ENTITY lol0 \"lol\">\n";
    for (int level = 1; level < 10; ++level) {
        const QByteArray previous = "&lol" + QByteArray::number(level - 1) + ";";
        document += " <!ENTITY lol" + QByteArray::number(level) + " \"" + Repeat(previous, 10) + "\">\n";
    }
    return document + "]>\n<lolz>&lol9;</lolz>\n";
}

// A padded but otherwise well-formed document of at least size bytes for the parser's own kind.
void WriteOversized(const QString& path, qint64 size)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("<checksum_list><images>\n");
    const QByteArray lines = Repeat("<file name=\"padding.img\" checksum=\"0123456789abcdef\"/>\n", 1024);
    while (file.size() < size) {
        file.write(lines);
    }
    file.write("</images></checksum_list>\n");
}

QByteArray Build(Hostile kind)
{
    switch (kind) {
    case Hostile::BillionLaughs:
        return BillionLaughs();
    case Hostile::QuadraticBlowup:
        return "<!DOCTYPE r [<!ENTITY a \"" + QByteArray(50000, 'a') + "\">]>\n<r>" + Repeat("&a;", 100000) +
               "</r>";
    case Hostile::DeepNesting:
        return Repeat("<a>", 100000) + Repeat("</a>", 100000);
    case Hostile::OneLevelTooDeep:
        return Repeat("<a>", GuardedXmlReader::kMaxDepth + 1) +
               Repeat("</a>", GuardedXmlReader::kMaxDepth + 1);
    case Hostile::ExternalEntity:
        return "<!DOCTYPE r [<!ENTITY x SYSTEM \"file:///etc/passwd\">]>\n<r><rnd>&x;</rnd></r>";
    case Hostile::ExternalDtd:
        return "<!DOCTYPE r SYSTEM \"http://unreachable.invalid/r.dtd\">\n<r/>";
    case Hostile::HarmlessDoctype:
        return "<!DOCTYPE r>\n<r/>";
    case Hostile::InvalidUtf8:
        return "<r><images><file name=\"a\xff\xfe.img\" checksum=\"1\"/></images></r>";
    case Hostile::OverlongUtf8:
        return "<r><scatter>\xc0\xaf\x65tc/passwd</scatter></r>";
    case Hostile::TruncatedUtf8AtEnd:
        return "<r><item file=\"a.img\"/></r>\n\xe2\x82";
    case Hostile::NulByte:
        return QByteArray("<r><item file=\"a\0.img\"/></r>", 27);
    case Hostile::ManyAttributes: {
        // Short names and empty values keep it under the smallest cap, so the token bound must catch it.
        QByteArray document = "<r";
        for (int i = 0; i < 200000; ++i) {
            document += " a" + QByteArray::number(i, 36) + "=''";
        }
        return document + "/>";
    }
    case Hostile::HugeTextNode:
        return "<r><item file=\"" + QByteArray(100 * 1024, 'x') + "\"/></r>";
    case Hostile::UndeclaredEntity:
        return "<r><item file=\"&secret;\"/></r>";
    case Hostile::OverTheCap:
        break;
    }
    return {};
}

struct FileParserCase
{
    const char* name;
    std::unique_ptr<IXMLParser> parser;
    qint64 cap;
};

std::vector<FileParserCase> FileParsers()
{
    std::vector<FileParserCase> parsers;
    parsers.push_back({"flash XML", std::make_unique<FlashXMLParser>(), IXMLParser::kDefaultSizeCap});
    parsers.push_back({"checksum list", std::make_unique<LoadChksumParser>(), LoadChksumParser::kSizeCap});
    parsers.push_back({"feedback file", std::make_unique<DeviceChksumParser>(), IXMLParser::kDefaultSizeCap});
    return parsers;
}

} // namespace

Q_DECLARE_METATYPE(Hostile)

class TestHostileXml : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void hostileFileIsRefusedByEveryFileParser_data();
    void hostileFileIsRefusedByEveryFileParser();
    void hostileAnswerIsRefusedByEveryAnswerParser_data();
    void hostileAnswerIsRefusedByEveryAnswerParser();
    void validEdgeFilesStillRead_data();
    void validEdgeFilesStillRead();
    void validEdgeAnswersStillRead();
    void refusalsKeptPeakMemoryLow();
};

void TestHostileXml::initTestCase()
{
    StartLogging();
    baselinePeakKiB = PeakRssKiB();
}

void TestHostileXml::hostileFileIsRefusedByEveryFileParser_data()
{
    QTest::addColumn<Hostile>("kind");
    QTest::addColumn<QString>("reason");

    const QString doctype = QStringLiteral("Document type declarations are not accepted.");
    const QString encoding = QStringLiteral("Encountered incorrectly encoded content.");
    QTest::newRow("billion laughs") << Hostile::BillionLaughs << doctype;
    QTest::newRow("quadratic entity blow-up") << Hostile::QuadraticBlowup << doctype;
    QTest::newRow("100 000 nested levels") << Hostile::DeepNesting << QStringLiteral("nested deeper than 64");
    QTest::newRow("65 nested levels") << Hostile::OneLevelTooDeep << QStringLiteral("nested deeper than 64");
    QTest::newRow("external entity") << Hostile::ExternalEntity << doctype;
    QTest::newRow("external DTD") << Hostile::ExternalDtd << doctype;
    QTest::newRow("any DOCTYPE") << Hostile::HarmlessDoctype << doctype;
    QTest::newRow("invalid UTF-8") << Hostile::InvalidUtf8 << encoding;
    QTest::newRow("overlong UTF-8") << Hostile::OverlongUtf8 << encoding;
    QTest::newRow("UTF-8 cut at the end")
        << Hostile::TruncatedUtf8AtEnd << QStringLiteral("ends inside a UTF-8 sequence");
    QTest::newRow("NUL byte") << Hostile::NulByte << QString();
    QTest::newRow("200 000 attributes in one tag")
        << Hostile::ManyAttributes << QStringLiteral("without a complete token");
    QTest::newRow("100 KiB in one token")
        << Hostile::HugeTextNode << QStringLiteral("without a complete token");
    QTest::newRow("undeclared entity") << Hostile::UndeclaredEntity << QStringLiteral("not declared");
    QTest::newRow("over the size cap") << Hostile::OverTheCap << QStringLiteral("Document is larger than");
}

void TestHostileXml::hostileFileIsRefusedByEveryFileParser()
{
    QFETCH(Hostile, kind);
    QFETCH(QString, reason);
    const QString folder = MakeCleanFolder(QStringLiteral("hostile"));
    QVERIFY(WriteFile(folder + QStringLiteral("/flash.xsd"), "<schema/>"));
    const QString path = folder + QStringLiteral("/input.xml");
    if (kind != Hostile::OverTheCap) {
        QVERIFY(WriteFile(path, Build(kind)));
    }
    for (FileParserCase& item : FileParsers()) {
        if (kind == Hostile::OverTheCap) {
            WriteOversized(path, item.cap + 1);
        }
        const LogCapture log;
        QVERIFY2(!item.parser->ParseXMLFile(path), item.name);
        QCOMPARE(item.parser->GetErrorMsg(),
                 QStringLiteral("input.xml is invalid.\nPlease select the correct input.xml."));
        const QStringList lines = log.Lines();
        QVERIFY2(lines.size() == 1, item.name);
        QVERIFY2(lines.first().contains(QRegularExpression(QStringLiteral(
                     "IXMLParser::ParseXMLFile\\(\\): .+, error line: \\d+, error column: \\d+"))),
                 qPrintable(lines.first()));
        QVERIFY2(lines.first().contains(reason, Qt::CaseInsensitive), qPrintable(lines.first()));
    }
}

void TestHostileXml::hostileAnswerIsRefusedByEveryAnswerParser_data()
{
    QTest::addColumn<Hostile>("kind");
    // Encoding faults cannot reach an answer: the engine's bytes are decoded before parsing.
    QTest::newRow("billion laughs") << Hostile::BillionLaughs;
    QTest::newRow("quadratic entity blow-up") << Hostile::QuadraticBlowup;
    QTest::newRow("100 000 nested levels") << Hostile::DeepNesting;
    QTest::newRow("external entity") << Hostile::ExternalEntity;
    QTest::newRow("external DTD") << Hostile::ExternalDtd;
    QTest::newRow("NUL character") << Hostile::NulByte;
    QTest::newRow("200 000 attributes in one tag") << Hostile::ManyAttributes;
    QTest::newRow("100 KiB in one token") << Hostile::HugeTextNode;
    QTest::newRow("over the size cap") << Hostile::OverTheCap;
}

void TestHostileXml::hostileAnswerIsRefusedByEveryAnswerParser()
{
    QFETCH(Hostile, kind);
    QString answer;
    if (kind == Hostile::OverTheCap) {
        answer = QStringLiteral("<da>") + QString(IXMLParser::kDefaultSizeCap, QLatin1Char(' ')) +
                 QStringLiteral("<item key='DA.SLA'>ENABLED</item></da>");
    } else {
        answer = QString::fromUtf8(Build(kind));
    }
    const QRegularExpression shape(QStringLiteral("^.+,\\nerror line: \\d+,\\nerror column: \\d+$"),
                                   QRegularExpression::DotMatchesEverythingOption);
    SysPropsParser sysProps;
    QVERIFY(!sysProps.ParseXMLString(answer));
    QVERIFY2(shape.match(sysProps.GetErrorMsg()).hasMatch(), qPrintable(sysProps.GetErrorMsg()));
    QVERIFY(!sysProps.IsSLAEnabled());
    SecDevFWInfoParser fwInfo;
    QVERIFY(!fwInfo.ParseXMLString(answer));
    QVERIFY2(shape.match(fwInfo.GetErrorMsg()).hasMatch(), qPrintable(fwInfo.GetErrorMsg()));
}

void TestHostileXml::validEdgeFilesStillRead_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("checksum");

    const QString text = QStringLiteral("<?xml version=\"1.0\" encoding=\"%1\"?>\n<checksum_list><images>"
                                        "<file name=\"caf\u00e9.img\" checksum=\"0123abcd\"/></images>"
                                        "</checksum_list>\n");
    const QString name = QStringLiteral("caf\u00e9.img");
    QTest::newRow("UTF-8 with byte-order mark")
        << QByteArray("\xef\xbb\xbf") + text.arg(QStringLiteral("UTF-8")).toUtf8() << name << "0123abcd";
    for (const char* codecName : {"UTF-16LE", "UTF-16BE"}) {
        QTextCodec* codec = QTextCodec::codecForName(codecName);
        QTextEncoder encoder(codec, QTextCodec::IgnoreHeader);
        const QByteArray bom =
            QByteArray(codecName) == "UTF-16LE" ? QByteArray("\xff\xfe") : QByteArray("\xfe\xff");
        QTest::newRow(codecName) << bom + encoder.fromUnicode(text.arg(QStringLiteral("UTF-16"))) << name
                                 << "0123abcd";
    }
    QTest::newRow("declared ISO-8859-1")
        << QTextCodec::codecForName("ISO-8859-1")->fromUnicode(text.arg(QStringLiteral("ISO-8859-1"))) << name
        << "0123abcd";
    QTest::newRow("standard entities")
        << QByteArray("<l><images><file name=\"&lt;a&gt; &amp; &apos;b&apos; &quot;c&quot;\" checksum=\"1\"/>"
                      "</images></l>")
        << QStringLiteral("<a> & 'b' \"c\"") << "1";
    QTest::newRow("character references")
        << QByteArray("<l><images><file name=\"caf&#233;.img\" checksum=\"&#x30;&#x31;\"/></images></l>")
        << name << "01";
    QTest::newRow("comments, instructions and a trailing comment")
        << QByteArray("<?xml version=\"1.0\"?><!-- list --><?tool run?><l><images><!-- x -->"
                      "<file name=\"a.img\" checksum=\"1\"/></images></l>\n<!-- end -->\n")
        << QStringLiteral("a.img") << "1";
    QTest::newRow("exactly 64 levels")
        << QByteArray("<l><images><file name=\"a.img\" checksum=\"1\"/></images>") + Repeat("<x>", 63) +
               Repeat("</x>", 63) + "</l>"
        << QStringLiteral("a.img") << "1";
    QTest::newRow("a 48 KiB attribute") << QByteArray("<l><images><file name=\"a.img\" checksum=\"") +
                                               QByteArray(48 * 1024, 'f') + "\"/></images></l>"
                                        << QStringLiteral("a.img") << QString(48 * 1024, QLatin1Char('f'));
    QTest::newRow("undeclared namespace prefix")
        << QByteArray("<p:l x:y=\"1\"><images><file name=\"a.img\" checksum=\"1\"/></images></p:l>")
        << QStringLiteral("a.img") << "1";
}

void TestHostileXml::validEdgeFilesStillRead()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, name);
    QFETCH(QString, checksum);
    const QString path = MakeCleanFolder(QStringLiteral("valid")) + QStringLiteral("/scatter_checksum.xml");
    QVERIFY(WriteFile(path, bytes));
    LoadChksumParser parser;
    QVERIFY2(parser.ParseXMLFile(path), qPrintable(parser.GetErrorMsg()));
    QCOMPARE(parser.GetChecksumMap(), (QHash<QString, QString>{{name, checksum}}));
}

void TestHostileXml::validEdgeAnswersStillRead()
{
    // A string is already text: an encoding it declares does not change how it reads.
    SysPropsParser sysProps;
    QVERIFY(
        sysProps.ParseXMLString(QStringLiteral("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>"
                                               "<da><item key=\"DA.SLA\"><![CDATA[Enabled]]></item></da>")));
    QVERIFY(sysProps.IsSLAEnabled());

    SecDevFWInfoParser fwInfo;
    QVERIFY2(fwInfo.ParseXMLString(QStringLiteral("<i><rnd>&#x61;1</rnd><hrid>\u00e9\U0001F600</hrid>"
                                                  "<socid>a&amp;b</socid></i>")),
             qPrintable(fwInfo.GetErrorMsg()));
    QCOMPARE(fwInfo.GetRnd(), QStringLiteral("a1"));
    QCOMPARE(fwInfo.GetHrid(), QStringLiteral("\u00e9\U0001F600"));
    QCOMPARE(fwInfo.GetSocid(), QStringLiteral("a&b"));
}

void TestHostileXml::refusalsKeptPeakMemoryLow()
{
#if defined(__SANITIZE_ADDRESS__)
    QSKIP("AddressSanitizer keeps freed memory resident in its quarantine, so peak memory says nothing here");
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    QSKIP("AddressSanitizer keeps freed memory resident in its quarantine, so peak memory says nothing here");
#endif
#endif
    const long grownMiB = (PeakRssKiB() - baselinePeakKiB) / 1024;
    qInfo("peak resident memory grew by %ld MiB across the tables", grownMiB);
    QVERIFY2(grownMiB < 64, qPrintable(QString::number(grownMiB)));
}

QTEST_GUILESS_MAIN(TestHostileXml)
#include "tst_hostilexml.moc"
