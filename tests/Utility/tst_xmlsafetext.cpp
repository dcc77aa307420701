#include "Utility/XmlSafeText.h"

#include <QtTest>

namespace {

QString With(const QString& before, char16_t unit, const QString& after = QString())
{
    return before + QChar(unit) + after;
}

} // namespace

class TestXmlSafeText : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void textACommandDocumentCannotCarryIsNamed_data();
    void textACommandDocumentCannotCarryIsNamed();
};

void TestXmlSafeText::textACommandDocumentCannotCarryIsNamed_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("message");

    const QString field = "Flash XML path";
    const QString fine;
    QTest::newRow("plain path") << field << "C:\\loads\\v6\\flash.xml" << fine;
    QTest::newRow("empty") << field << "" << fine;
    QTest::newRow("tab") << field << "C:/loads\tv6/flash.xml" << fine;
    QTest::newRow("letters outside ASCII")
        << field << QString::fromUtf8("C:/Prüfung/固件/ładunek.xml") << fine;
    QTest::newRow("emoji as a surrogate pair") << field << QString::fromUtf8("C:/loads/😀/flash.xml") << fine;
    QTest::newRow("highest code point") << field << With(With("a", 0xDBFF), 0xDFFF, "b") << fine;
    QTest::newRow("noncharacter beyond the first plane") << field << With(With("a", 0xD83F), 0xDFFE) << fine;
    QTest::newRow("DEL and a C1 control") << field << With(With("a", 0x7F), 0x85, "b") << fine;
    QTest::newRow("replacement character") << field << With("a", 0xFFFD) << fine;

    QTest::newRow("carriage return")
        << field << With("C:/loads/v6", 0x0D, "/flash.xml")
        << "Flash XML path: character 12 (U+000D) cannot be stored in a command document";
    QTest::newRow("line feed")
        << field << With("C:/loads", 0x0A)
        << "Flash XML path: character 9 (U+000A) cannot be stored in a command document";
    QTest::newRow("NUL first")
        << field << With("", 0x00, "abc")
        << "Flash XML path: character 1 (U+0000) cannot be stored in a command document";
    QTest::newRow("U+0001") << field << With("ab", 0x01, "c")
                            << "Flash XML path: character 3 (U+0001) cannot be stored in a command document";
    QTest::newRow("last C0 control") << field << With("ab", 0x1F, "c")
                                     << "Flash XML path: character 3 (U+001F) cannot be stored in a command "
                                        "document";
    QTest::newRow("U+FFFE") << field << With("ab", 0xFFFE, "c")
                            << "Flash XML path: character 3 (U+FFFE) cannot be stored in a command document";
    QTest::newRow("U+FFFF") << field << With("ab", 0xFFFF)
                            << "Flash XML path: character 3 (U+FFFF) cannot be stored in a command document";
    QTest::newRow("high surrogate at the end")
        << field << With("abc", 0xD800)
        << "Flash XML path: character 4 (U+D800) cannot be stored in a command document";
    QTest::newRow("high surrogate before a letter")
        << field << With("a", 0xDBFF, "b")
        << "Flash XML path: character 2 (U+DBFF) cannot be stored in a command document";
    QTest::newRow("lone low surrogate")
        << field << With("a", 0xDC00, "b")
        << "Flash XML path: character 2 (U+DC00) cannot be stored in a command document";
    QTest::newRow("pair in the wrong order")
        << field << With(With("a", 0xDE00), 0xD83D)
        << "Flash XML path: character 2 (U+DE00) cannot be stored in a command document";
    QTest::newRow("high surrogate before a pair")
        << field << With(With(With("a", 0xD83D), 0xD83D), 0xDE00)
        << "Flash XML path: character 2 (U+D83D) cannot be stored in a command document";
    QTest::newRow("a pair before counts as one character")
        << field << With(QString::fromUtf8("😀😀"), 0x0D)
        << "Flash XML path: character 3 (U+000D) cannot be stored in a command document";
    QTest::newRow("first offending character is named")
        << field << With(With("a", 0x01, "b"), 0x0D)
        << "Flash XML path: character 2 (U+0001) cannot be stored in a command document";
    QTest::newRow("field name is taken literally")
        << "Option %2 (%1)" << With("", 0x0D)
        << "Option %2 (%1): character 1 (U+000D) cannot be stored in a command document";
}

void TestXmlSafeText::textACommandDocumentCannotCarryIsNamed()
{
    QFETCH(QString, field);
    QFETCH(QString, text);
    QFETCH(QString, message);
    QCOMPARE(XmlSafeText::Check(field, text), message);
}

QTEST_GUILESS_MAIN(TestXmlSafeText)
#include "tst_xmlsafetext.moc"
