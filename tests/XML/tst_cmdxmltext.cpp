#include "CmdXmlTestSupport.h"
#include "StdoutCapture.h"
#include "Utility/XmlSafeText.h"
#include "XML/ICmdXMLGenerator.h"

#include <QXmlStreamReader>
#include <QtTest>

namespace {

QString With(const QString& before, char16_t unit, const QString& after)
{
    return before + QChar(unit) + after;
}

// The text of <mode> as the engine reads the document: UTF-8 bytes through a strict stream reader.
// Quiet on purpose, since most of the characters tried below break the document.
bool ReadModeBack(const QString& document, QString& mode)
{
    QXmlStreamReader reader(document.toUtf8());
    bool found = false;
    while (!reader.atEnd()) {
        if (reader.readNext() == QXmlStreamReader::StartElement && reader.name() == QLatin1String("mode")) {
            mode = reader.readElementText();
            found = true;
        }
    }
    return found && !reader.hasError();
}

} // namespace

class TestCmdXmlText : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void builderLogsAnArgumentTheDocumentCannotCarry_data();
    void builderLogsAnArgumentTheDocumentCannotCarry();
    void checkRefusesExactlyWhatADocumentBreaksOrChanges();
};

void TestCmdXmlText::builderLogsAnArgumentTheDocumentCannotCarry_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("sourceFileXml");
    QTest::addColumn<QByteArray>("console");

    const QString folder = Native("/loads/v6");
    const QString file = Native("/scatter.txt");
    // The document keeps the bytes it always had, with the serialiser's own escapes; only the line is new.
    QTest::newRow("carriage return") << With(folder, 0x0D, file) << folder + "&#xd;" + file
                                     << QByteArray("ICmdXMLGenerator::GetFlashAllCmdString(): source_file: "
                                                   "character 10 (U+000D) cannot be stored in a command "
                                                   "document\n");
    QTest::newRow("U+0001") << With(folder, 0x01, file) << With(folder, 0x01, file)
                            << QByteArray(
                                   "ICmdXMLGenerator::GetFlashAllCmdString(): source_file: character 10 "
                                   "(U+0001) cannot be stored in a command document\n");
    QTest::newRow("lone surrogate") << With(folder, 0xD800, file) << With(folder, 0xD800, file)
                                    << QByteArray("ICmdXMLGenerator::GetFlashAllCmdString(): source_file: "
                                                  "character 10 (U+D800) cannot be stored in a command "
                                                  "document\n");
    QTest::newRow("clean path") << folder + file << folder + file << QByteArray();
}

void TestCmdXmlText::builderLogsAnArgumentTheDocumentCannotCarry()
{
    QFETCH(QString, path);
    QFETCH(QString, sourceFileXml);
    QFETCH(QByteArray, console);

    StdoutCapture capture;
    QVERIFY(capture.IsActive());
    const QString document = ICmdXMLGenerator().GetFlashAllCmdString(path);
    QCOMPARE(capture.Finish(), console);
    QCOMPARE(document, Expected("CMD:FLASH-ALL", {"<path_separator>/</path_separator>",
                                                  "<source_file>" + sourceFileXml + "</source_file>"}));
}

void TestCmdXmlText::checkRefusesExactlyWhatADocumentBreaksOrChanges()
{
    // Every character of the first plane between two letters, as a mode text: the check must refuse it
    // exactly when the document the engine reads is broken or carries other text. CR and LF are the two
    // that a document carries but the check refuses on purpose.
    ICmdXMLGenerator generator;
    int refused = 0;
    QString mismatch;
    StdoutCapture capture;
    QVERIFY(capture.IsActive());
    for (uint code = 0; code <= 0xFFFF; ++code) {
        const QString text = With("a", char16_t(code), "b");
        const bool accepted = XmlSafeText::Check("mode", text).isEmpty();
        refused += accepted ? 0 : 1;
        QString readBack;
        const bool intact =
            ReadModeBack(generator.GetSetBootModeCmdString(text), readBack) && readBack == text;
        const bool lineBreak = code == 0x0A || code == 0x0D;
        if (mismatch.isEmpty() && accepted != (intact && !lineBreak)) {
            mismatch = QString("U+%1: check %2, document %3")
                           .arg(QString::number(code, 16).toUpper(), accepted ? "accepts" : "refuses",
                                intact ? "intact" : "broken or changed");
        }
    }
    const QByteArray console = capture.Finish();
    QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));
    // 31 C0 controls without tab, U+FFFE, U+FFFF and 2048 surrogates, each alone here.
    QCOMPARE(refused, 31 + 2 + 2048);
    QCOMPARE(console.count("ICmdXMLGenerator::GetSetBootModeCmdString(): mode: character 2 ("), refused);
}

QTEST_GUILESS_MAIN(TestCmdXmlText)
#include "tst_cmdxmltext.moc"
