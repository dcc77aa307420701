#include "XML/parser/SecDevFWInfoParser.h"
#include "XML/parser/SysPropsParser.h"

#include <QtTest>

class TestDeviceInfoParser : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void slaPropertyDecision_data();
    void slaPropertyDecision();
    void longAnswerWithManyItemsIsReadInOnePass();
    void malformedOrEmptyAnswerFailsInTheFramework_data();
    void malformedOrEmptyAnswerFailsInTheFramework();
    void firmwareInfoTextsAreTrimmedAndFirstOfEachNameWins();
    void missingFirmwareNodeNamesTheFirstOneMissing_data();
    void missingFirmwareNodeNamesTheFirstOneMissing();
};

void TestDeviceInfoParser::slaPropertyDecision_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<bool>("enabled");

    QTest::newRow("enabled") << "<da><item key='DA.SLA'>ENABLED</item></da>" << true;
    QTest::newRow("lower case with spaces around")
        << "<da><item key='DA.SLA'>\n   enabled  \n</item></da>" << true;
    QTest::newRow("disabled") << "<da><item key='DA.SLA'>DISABLED</item></da>" << false;
    QTest::newRow("no DA.SLA item") << "<da><item key='DA.OTHER'>ENABLED</item></da>" << false;
    QTest::newRow("key differing in letter case") << "<da><item key='da.sla'>ENABLED</item></da>" << false;
    QTest::newRow("key with spaces is not trimmed") << "<da><item key=' DA.SLA'>ENABLED</item></da>" << false;
    QTest::newRow("item without key") << "<da><item>ENABLED</item></da>" << false;
    QTest::newRow("text is more than the word") << "<da><item key='DA.SLA'>ENABLED!</item></da>" << false;
    QTest::newRow("matching element before the first item is ignored")
        << "<da><prop key='DA.SLA'>ENABLED</prop><item key='X'>1</item></da>" << false;
    QTest::newRow("any element after the first item counts")
        << "<da><item key='X'>1</item><prop key='DA.SLA'>Enabled</prop></da>" << true;
    QTest::newRow("later match wins over an earlier one")
        << "<da><item key='DA.SLA'>ENABLED</item><item key='DA.SLA'>DISABLED</item></da>" << false;
    QTest::newRow("later enabled wins over an earlier disabled")
        << "<da><item key='DA.SLA'>DISABLED</item><x/><item key='DA.SLA'>ENABLED</item></da>" << true;
    QTest::newRow("nested item does not count")
        << "<da><group><item key='DA.SLA'>ENABLED</item></group></da>" << false;
    QTest::newRow("text of nested children is part of the value")
        << "<da><item key='DA.SLA'><b>EN</b>ABLED</item></da>" << true;
}

void TestDeviceInfoParser::slaPropertyDecision()
{
    QFETCH(QString, answer);
    QFETCH(bool, enabled);
    SysPropsParser parser;
    QVERIFY2(parser.ParseXMLString(answer), qPrintable(parser.GetErrorMsg()));
    QCOMPARE(parser.IsSLAEnabled(), enabled);
}

void TestDeviceInfoParser::longAnswerWithManyItemsIsReadInOnePass()
{
    // An answer filling the whole buffer with items: read once per item, as a rescan per item would take
    // hours. The last match is still the one that counts.
    QString answer = QStringLiteral("<da>");
    const QString item = QStringLiteral("<item key='K'/>");
    while (answer.size() < 2 * 1024 * 1024 - 200) {
        answer += item;
    }
    answer += QStringLiteral("<item key='DA.SLA'>ENABLED</item></da>");
    SysPropsParser parser;
    QVERIFY2(parser.ParseXMLString(answer), qPrintable(parser.GetErrorMsg()));
    QVERIFY(parser.IsSLAEnabled());
}

void TestDeviceInfoParser::malformedOrEmptyAnswerFailsInTheFramework_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("messageStart");
    QTest::newRow("empty") << QString() << QStringLiteral("xml string is empty.");
    QTest::newRow("truncated") << QStringLiteral("<da><item key='DA.SLA'>ENA")
                               << QStringLiteral(
                                      "Premature end of document.,\nerror line: 1,\nerror column: ");
}

void TestDeviceInfoParser::malformedOrEmptyAnswerFailsInTheFramework()
{
    QFETCH(QString, answer);
    QFETCH(QString, messageStart);
    SysPropsParser sysProps;
    QVERIFY(!sysProps.ParseXMLString(answer));
    QVERIFY2(sysProps.GetErrorMsg().startsWith(messageStart), qPrintable(sysProps.GetErrorMsg()));
    QVERIFY(!sysProps.IsSLAEnabled());
    SecDevFWInfoParser fwInfo;
    QVERIFY(!fwInfo.ParseXMLString(answer));
    QVERIFY2(fwInfo.GetErrorMsg().startsWith(messageStart), qPrintable(fwInfo.GetErrorMsg()));
}

void TestDeviceInfoParser::firmwareInfoTextsAreTrimmedAndFirstOfEachNameWins()
{
    SecDevFWInfoParser parser;
    QVERIFY2(parser.ParseXMLString(QStringLiteral("<anything>\n"
                                                  "  <socid> 00112233445566778899AABBCCDDEEFF\n</socid>\n"
                                                  "  <group><rnd>nested</rnd></group>\n"
                                                  "  <hrid>\t0a0b0c0d0e0f1011 </hrid>\n"
                                                  "  <rnd>  a1b2c3d4e5f60718  </rnd>\n"
                                                  "  <rnd>ffffffffffffffff</rnd>\n"
                                                  "</anything>")),
             qPrintable(parser.GetErrorMsg()));
    QCOMPARE(parser.GetRnd(), QStringLiteral("a1b2c3d4e5f60718"));
    QCOMPARE(parser.GetHrid(), QStringLiteral("0a0b0c0d0e0f1011"));
    QCOMPARE(parser.GetSocid(), QStringLiteral("00112233445566778899AABBCCDDEEFF"));
}

void TestDeviceInfoParser::missingFirmwareNodeNamesTheFirstOneMissing_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("rnd");
    QTest::addColumn<QString>("hrid");

    QTest::newRow("no hrid keeps rnd") << "<i><rnd>01</rnd><socid>03</socid></i>"
                                       << "hrid Node Not Exists."
                                       << "01"
                                       << "";
    QTest::newRow("none at all names rnd") << "<i><RND>01</RND></i>"
                                           << "rnd Node Not Exists."
                                           << ""
                                           << "";
    QTest::newRow("no socid keeps both") << "<i><hrid>02</hrid><rnd>01</rnd></i>"
                                         << "socid Node Not Exists."
                                         << "01"
                                         << "02";
}

void TestDeviceInfoParser::missingFirmwareNodeNamesTheFirstOneMissing()
{
    QFETCH(QString, answer);
    QFETCH(QString, message);
    QFETCH(QString, rnd);
    QFETCH(QString, hrid);
    SecDevFWInfoParser parser;
    QVERIFY(!parser.ParseXMLString(answer));
    QCOMPARE(parser.GetErrorMsg(), message);
    QCOMPARE(parser.GetRnd(), rnd);
    QCOMPARE(parser.GetHrid(), hrid);
    QVERIFY(parser.GetSocid().isEmpty());
}

QTEST_GUILESS_MAIN(TestDeviceInfoParser)
#include "tst_deviceinfoparser.moc"
