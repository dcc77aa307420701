#include "ui/UiResources.h"

#include <QImage>
#include <QtTest>

class TestUiResources : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void imagesOpenUnderBothSpellings_data();
    void imagesOpenUnderBothSpellings();
};

void TestUiResources::initTestCase()
{
    InitUiResources();
}

void TestUiResources::imagesOpenUnderBothSpellings_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QSize>("size");

    QTest::newRow("flash") << "flash.png" << QSize(64, 64);
    for (const char* name : {"folder.png", "start.png", "stop.png", "refresh.png", "status_und.png",
                             "status_ok.png", "status_fail.png", "download.png", "com.png"}) {
        QTest::newRow(name) << name << QSize(32, 32);
    }
    QTest::newRow("logo") << "kestrane-logo.png" << QSize(200, 120);
}

void TestUiResources::imagesOpenUnderBothSpellings()
{
    QFETCH(QString, name);
    QFETCH(QSize, size);
    QCOMPARE(QImage(":/image/" + name).size(), size);
    QCOMPARE(QImage(":image/" + name).size(), size);
}

QTEST_GUILESS_MAIN(TestUiResources)
#include "tst_uiresources.moc"
