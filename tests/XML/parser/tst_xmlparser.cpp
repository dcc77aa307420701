#include "ParserTestSupport.h"
#include "XML/parser/FlashXMLParser.h"
#include "XML/parser/IXMLParser.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QXmlStreamReader>
#include <QtTest>

#include <stdexcept>
#include <unistd.h>

using namespace ParserTestSupport;

namespace {

const QString kParseFile = QStringLiteral("IXMLParser::ParseXMLFile");

QString InvalidText(const QString& fileName)
{
    return QStringLiteral("%1 is invalid.\nPlease select the correct %2.").arg(fileName, fileName);
}

// Records what the framework hands to the derived class and answers as told.
class ProbeParser : public IXMLParser
{
public:
    enum class Answer
    {
        Accept,
        RejectWithMessage,
        Throw
    };

    Answer answer = Answer::Accept;
    int calls = 0;
    QString rootName;

    QString DocumentFolder() const { return GetDocumentFolder(); }

protected:
    bool ParseDocument(const QDomElement& root) override
    {
        ++calls;
        rootName = root.tagName();
        switch (answer) {
        case Answer::RejectWithMessage:
            SetErrorMsg(QStringLiteral("probe refused the root"));
            return false;
        case Answer::Throw:
            throw std::runtime_error("probe ran out of luck");
        case Answer::Accept:
            break;
        }
        return true;
    }
};

struct ReaderError
{
    QString message;
    qint64 line = 0;
    qint64 column = 0;
};

// What a plain stream reader says about the same text: the parsers pass the reader's words through.
ReaderError PlainReaderError(const QByteArray& bytes)
{
    QXmlStreamReader reader(bytes);
    while (!reader.atEnd()) {
        reader.readNext();
    }
    return {reader.errorString(), reader.lineNumber(), reader.columnNumber()};
}

QByteArray FlashXml(const QByteArray& children)
{
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<flash>\n" + children + "\n</flash>\n";
}

} // namespace

class TestXmlParser : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void fileCheckFailureKeepsTheCheckMessageAndLogsNothing_data();
    void fileCheckFailureKeepsTheCheckMessageAndLogsNothing();
    void unreadableFileIsRefusedByTheFileCheck();
    void malformedFileLogsTheReaderPositionOnceAndReadsAsInvalid_data();
    void malformedFileLogsTheReaderPositionOnceAndReadsAsInvalid();
    void rejectedDocumentLogsTheReasonThenReadsAsInvalid();
    void exceptionDuringInterpretationBecomesAFailure();
    void documentFolderIsTheAbsoluteFolderOfTheFile();
    void successLeavesAnEarlierErrorInPlace();
    void whiteSpaceStringFailsWithoutInterpretation_data();
    void whiteSpaceStringFailsWithoutInterpretation();
    void malformedStringReportsReaderPositionWithoutLogging();
    void wellFormedStringReachesTheDerivedParser();
    void exceptionDuringStringInterpretationGivesItsDescription();
    void flashXmlWithoutSchemaIsRefusedBeforeOpening_data();
    void flashXmlWithoutSchemaIsRefusedBeforeOpening();
    void scatterPathResolution_data();
    void scatterPathResolution();
    void missingContactFailsAfterStoringTheScatterPath();
    void missingScatterFailsWithItsNodeNameInTheLog();
    void onlyDirectChildrenCountAndTheFirstOneWins();
};

void TestXmlParser::initTestCase()
{
    StartLogging();
}

void TestXmlParser::fileCheckFailureKeepsTheCheckMessageAndLogsNothing_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("expected");

    const QString folder = MakeCleanFolder(QStringLiteral("filecheck"));
    QTest::newRow("empty name") << QString() << QStringLiteral("filename is empty.");
    const QString missing = folder + QStringLiteral("/missing.xml");
    QTest::newRow("missing file") << missing << missing + QStringLiteral(" is not exist.");
    QTest::newRow("a directory") << folder << folder + QStringLiteral(" is not a regular file.");
}

void TestXmlParser::fileCheckFailureKeepsTheCheckMessageAndLogsNothing()
{
    QFETCH(QString, path);
    QFETCH(QString, expected);
    const LogCapture log;
    ProbeParser parser;
    QVERIFY(!parser.ParseXMLFile(path));
    QCOMPARE(parser.GetErrorMsg(), expected);
    QCOMPARE(parser.calls, 0);
    QCOMPARE(log.CountContaining(kParseFile, QString()), 0);
}

void TestXmlParser::unreadableFileIsRefusedByTheFileCheck()
{
    if (geteuid() == 0) {
        QSKIP("the superuser reads every file");
    }
    const QString path = MakeCleanFolder(QStringLiteral("unreadable")) + QStringLiteral("/locked.xml");
    QVERIFY(WriteFile(path, "<a/>"));
    QVERIFY(QFile::setPermissions(path, QFileDevice::WriteOwner));
    ProbeParser parser;
    QVERIFY(!parser.ParseXMLFile(path));
    QCOMPARE(parser.GetErrorMsg(), path + QStringLiteral(" is not a readable file."));
}

void TestXmlParser::malformedFileLogsTheReaderPositionOnceAndReadsAsInvalid_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("mismatched tag") << QByteArray("<flash>\n  <scatter>a</flash>\n");
    QTest::newRow("truncated") << QByteArray("<flash>\n<scatter>");
    QTest::newRow("empty file") << QByteArray();
    QTest::newRow("two roots") << QByteArray("<a/>\n<b/>");
}

void TestXmlParser::malformedFileLogsTheReaderPositionOnceAndReadsAsInvalid()
{
    QFETCH(QByteArray, bytes);
    const QString path = MakeCleanFolder(QStringLiteral("malformed")) + QStringLiteral("/broken.xml");
    QVERIFY(WriteFile(path, bytes));
    const ReaderError reader = PlainReaderError(bytes);
    QVERIFY(!reader.message.isEmpty());

    const LogCapture log;
    ProbeParser parser;
    QVERIFY(!parser.ParseXMLFile(path));
    QCOMPARE(parser.GetErrorMsg(), InvalidText(QStringLiteral("broken.xml")));
    QCOMPARE(parser.calls, 0);
    const QString line =
        QStringLiteral("%1, error line: %2, error column: %3")
            .arg(reader.message, QString::number(reader.line), QString::number(reader.column));
    QCOMPARE(log.Count(kParseFile, line, QStringLiteral("IXMLParser")), 1);
    QCOMPARE(log.CountContaining(kParseFile, QString()), 1);
}

void TestXmlParser::rejectedDocumentLogsTheReasonThenReadsAsInvalid()
{
    const QString path = MakeCleanFolder(QStringLiteral("rejected")) + QStringLiteral("/doc.xml");
    QVERIFY(WriteFile(path, "<root><child/></root>"));
    const LogCapture log;
    ProbeParser parser;
    parser.answer = ProbeParser::Answer::RejectWithMessage;
    QVERIFY(!parser.ParseXMLFile(path));
    QCOMPARE(parser.calls, 1);
    QCOMPARE(parser.rootName, QStringLiteral("root"));
    QCOMPARE(parser.GetErrorMsg(), InvalidText(QStringLiteral("doc.xml")));
    QCOMPARE(log.Count(kParseFile, QStringLiteral("probe refused the root"), QStringLiteral("IXMLParser")),
             1);
}

void TestXmlParser::exceptionDuringInterpretationBecomesAFailure()
{
    const QString path = MakeCleanFolder(QStringLiteral("throwing")) + QStringLiteral("/doc.xml");
    QVERIFY(WriteFile(path, "<root/>"));
    const LogCapture log;
    ProbeParser parser;
    parser.answer = ProbeParser::Answer::Throw;
    QVERIFY(!parser.ParseXMLFile(path));
    QCOMPARE(parser.GetErrorMsg(), InvalidText(QStringLiteral("doc.xml")));
    QCOMPARE(log.Count(kParseFile, QStringLiteral("probe ran out of luck"), QStringLiteral("IXMLParser")), 1);
}

void TestXmlParser::documentFolderIsTheAbsoluteFolderOfTheFile()
{
    const QString folder = MakeCleanFolder(QStringLiteral("docfolder/inner"));
    QVERIFY(WriteFile(folder + QStringLiteral("/doc.xml"), "<root/>"));
    ProbeParser parser;
    QVERIFY(parser.ParseXMLFile(QStringLiteral("docfolder/inner/../inner/doc.xml")));
    QCOMPARE(parser.DocumentFolder(), folder);

    ProbeParser fromString;
    QVERIFY(fromString.ParseXMLString(QStringLiteral("<root/>")));
    QVERIFY(fromString.DocumentFolder().isEmpty());
}

void TestXmlParser::successLeavesAnEarlierErrorInPlace()
{
    ProbeParser parser;
    QVERIFY(!parser.ParseXMLString(QStringLiteral(" ")));
    QVERIFY(parser.ParseXMLString(QStringLiteral("<root/>")));
    QCOMPARE(parser.GetErrorMsg(), QStringLiteral("xml string is empty."));
}

void TestXmlParser::whiteSpaceStringFailsWithoutInterpretation_data()
{
    QTest::addColumn<QString>("xml");
    QTest::newRow("empty") << QString();
    QTest::newRow("spaces") << QStringLiteral("     ");
    QTest::newRow("line breaks and tabs") << QStringLiteral("\n\t \r\n");
}

void TestXmlParser::whiteSpaceStringFailsWithoutInterpretation()
{
    QFETCH(QString, xml);
    ProbeParser parser;
    QVERIFY(!parser.ParseXMLString(xml));
    QCOMPARE(parser.GetErrorMsg(), QStringLiteral("xml string is empty."));
    QCOMPARE(parser.calls, 0);
}

void TestXmlParser::malformedStringReportsReaderPositionWithoutLogging()
{
    const QByteArray text = "<answer>\n  <item key='DA.SLA'>ENABLED</answer>";
    const ReaderError reader = PlainReaderError(text);
    const LogCapture log;
    ProbeParser parser;
    QVERIFY(!parser.ParseXMLString(QString::fromUtf8(text)));
    QCOMPARE(parser.GetErrorMsg(),
             QStringLiteral("%1,\nerror line: %2,\nerror column: %3")
                 .arg(reader.message, QString::number(reader.line), QString::number(reader.column)));
    QCOMPARE(parser.calls, 0);
    QVERIFY(log.Lines().isEmpty());
}

void TestXmlParser::wellFormedStringReachesTheDerivedParser()
{
    ProbeParser parser;
    QVERIFY(parser.ParseXMLString(QStringLiteral("  <da:answer xmlns:x='u'><x:item/></da:answer>  ")));
    QCOMPARE(parser.calls, 1);
    QCOMPARE(parser.rootName, QStringLiteral("da:answer"));

    ProbeParser refusing;
    refusing.answer = ProbeParser::Answer::RejectWithMessage;
    QVERIFY(!refusing.ParseXMLString(QStringLiteral("<answer/>")));
    QCOMPARE(refusing.GetErrorMsg(), QStringLiteral("probe refused the root"));
}

void TestXmlParser::exceptionDuringStringInterpretationGivesItsDescription()
{
    ProbeParser parser;
    parser.answer = ProbeParser::Answer::Throw;
    QVERIFY(!parser.ParseXMLString(QStringLiteral("<answer/>")));
    QCOMPARE(parser.GetErrorMsg(), QStringLiteral("probe ran out of luck"));
}

void TestXmlParser::flashXmlWithoutSchemaIsRefusedBeforeOpening_data()
{
    QTest::addColumn<bool>("schemaIsFolder");
    QTest::addColumn<QString>("checkMessage");
    QTest::newRow("no schema") << false << QStringLiteral("%1 is not exist.");
    QTest::newRow("schema is a folder") << true << QStringLiteral("%1 is not a regular file.");
}

void TestXmlParser::flashXmlWithoutSchemaIsRefusedBeforeOpening()
{
    QFETCH(bool, schemaIsFolder);
    QFETCH(QString, checkMessage);
    const QString folder = MakeCleanFolder(QStringLiteral("noschema"));
    // Malformed on purpose: had the parser opened it, the reader's error would be in the log.
    QVERIFY(WriteFile(folder + QStringLiteral("/my_flash.xml"), "<flash><scatter>"));
    const QString schemaPath = folder + QDir::separator() + QStringLiteral("flash.xsd");
    if (schemaIsFolder) {
        QVERIFY(QDir().mkpath(schemaPath));
    }

    const LogCapture log;
    FlashXMLParser parser;
    QVERIFY(!parser.ParseXMLFile(folder + QStringLiteral("/my_flash.xml")));
    QCOMPARE(parser.GetErrorMsg(),
             QStringLiteral("my_flash.xml is invalid.\nPlease select the correct my_flash.xml."));
    QCOMPARE(log.Count(QStringLiteral("FlashXMLParser::CheckIfValidXMLSchema"), checkMessage.arg(schemaPath),
                       QStringLiteral("FlashXMLParser")),
             1);
    QCOMPARE(log.CountContaining(kParseFile, QString()), 0);
}

void TestXmlParser::scatterPathResolution_data()
{
    QTest::addColumn<QByteArray>("scatterText");
    QTest::addColumn<QString>("expected");

    const QString folder = QDir::current().absoluteFilePath(QStringLiteral("loads/x"));
    const QString relative = QDir::toNativeSeparators(folder + QStringLiteral("/images/load_scatter.txt"));
    QTest::newRow("relative") << QByteArray("images/load_scatter.txt") << relative;
    QTest::newRow("relative, padded with spaces and line breaks")
        << QByteArray("\n     images/load_scatter.txt  \n  ") << relative;
    QTest::newRow("absolute is kept as written") << QByteArray("/srv/loads//one/./load_scatter.txt")
                                                 << QStringLiteral("/srv/loads//one/./load_scatter.txt");
    QTest::newRow("character reference and CDATA")
        << QByteArray("images/<![CDATA[load]]>&#95;scatter.txt") << relative;
}

void TestXmlParser::scatterPathResolution()
{
    QFETCH(QByteArray, scatterText);
    QFETCH(QString, expected);
    const QString folder = MakeCleanFolder(QStringLiteral("loads/x"));
    QVERIFY(WriteFile(folder + QStringLiteral("/flash.xsd"), "<schema/>"));
    QVERIFY(WriteFile(folder + QStringLiteral("/flash.xml"),
                      FlashXml("<scatter>" + scatterText + "</scatter>\n<contact>Line 3</contact>")));
    FlashXMLParser parser;
    QVERIFY2(parser.ParseXMLFile(QStringLiteral("loads/x/flash.xml")), qPrintable(parser.GetErrorMsg()));
    QCOMPARE(parser.GetScatterFilePath(), expected);
}

void TestXmlParser::missingContactFailsAfterStoringTheScatterPath()
{
    const QString folder = MakeCleanFolder(QStringLiteral("nocontact"));
    QVERIFY(WriteFile(folder + QStringLiteral("/flash.xsd"), "<schema/>"));
    QVERIFY(
        WriteFile(folder + QStringLiteral("/flash.xml"), FlashXml("<scatter>load_scatter.txt</scatter>")));
    const LogCapture log;
    FlashXMLParser parser;
    QVERIFY(!parser.ParseXMLFile(folder + QStringLiteral("/flash.xml")));
    QCOMPARE(parser.GetScatterFilePath(),
             QDir::toNativeSeparators(folder + QStringLiteral("/load_scatter.txt")));
    QCOMPARE(parser.GetErrorMsg(), InvalidText(QStringLiteral("flash.xml")));
    QCOMPARE(
        log.Count(kParseFile, QStringLiteral("contact node is not exist."), QStringLiteral("IXMLParser")), 1);
}

void TestXmlParser::missingScatterFailsWithItsNodeNameInTheLog()
{
    const QString folder = MakeCleanFolder(QStringLiteral("noscatter"));
    QVERIFY(WriteFile(folder + QStringLiteral("/flash.xsd"), "<schema/>"));
    QVERIFY(WriteFile(folder + QStringLiteral("/flash.xml"), FlashXml("<contact>x</contact>")));
    const LogCapture log;
    FlashXMLParser parser;
    QVERIFY(!parser.ParseXMLFile(folder + QStringLiteral("/flash.xml")));
    QVERIFY(parser.GetScatterFilePath().isEmpty());
    QCOMPARE(
        log.Count(kParseFile, QStringLiteral("scatter node is not exist."), QStringLiteral("IXMLParser")), 1);

    FlashXMLParser fromString;
    QVERIFY(!fromString.ParseXMLString(QStringLiteral("<flash><contact/></flash>")));
    QCOMPARE(fromString.GetErrorMsg(), QStringLiteral("scatter node is not exist."));
}

void TestXmlParser::onlyDirectChildrenCountAndTheFirstOneWins()
{
    const QString folder = MakeCleanFolder(QStringLiteral("firstwins"));
    QVERIFY(WriteFile(folder + QStringLiteral("/flash.xsd"), "<schema/>"));
    QVERIFY(WriteFile(folder + QStringLiteral("/flash.xml"),
                      "<anything><group><scatter>/nested.txt</scatter></group>"
                      "<scatter>/first.txt</scatter><scatter>/second.txt</scatter>"
                      "<group><contact>nested</contact></group></anything>"));
    FlashXMLParser parser;
    QVERIFY(!parser.ParseXMLFile(folder + QStringLiteral("/flash.xml")));
    QCOMPARE(parser.GetScatterFilePath(), QStringLiteral("/first.txt"));
}

QTEST_GUILESS_MAIN(TestXmlParser)
#include "tst_xmlparser.moc"
