// Lines logged before the first log file exists (the settings read while the window is built, eFuse
// choices among them) must reach that file, at its top, and no more than a bounded number of them.
#include "logging/Log.h"
#include "logging/Logger.h"

#include <QDir>
#include <QFile>
#include <QtTest>

static constexpr char kLogSource[] = "Common\\PortManager";

class EarlyLinesTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void linesBeforeTheFirstFileOpenItsLog();
};

void EarlyLinesTest::linesBeforeTheFirstFileOpenItsLog()
{
    qputenv("XDG_DATA_HOME", QDir::current().absoluteFilePath(QStringLiteral("logs")).toLocal8Bit());
    LOGI("PortManager::LoadEfuseSetting", "BlowEfuseEnable = %d", 1);
    for (int i = 0; i < 600; ++i)
        LOGD("PortManager::LoadCommonSetting", "early %d", i);

    Logger::Instance().StartLogging();
    LOGI("PortManager::Start", "after the file opened");
    QFile log(QString::fromLocal8Bit(Logger::Instance().GetDumpFolder()) + QStringLiteral("/Praxilo_TOOL.log"));
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromLocal8Bit(log.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QVERIFY(lines.size() > 500);
    QVERIFY(lines.first().contains(QStringLiteral("PortManager::LoadEfuseSetting(): BlowEfuseEnable = 1(PortManager,")));
    // The first 499 of the 600 debug lines fill the bound; the rest are only on their way to nowhere.
    QVERIFY(lines.at(499).contains(QStringLiteral("(): early 498(")));
    QCOMPARE(lines.filter(QStringLiteral("(): early 499(")).size(), 0);
    QCOMPARE(lines.filter(QStringLiteral("after the file opened")).size(), 1);

    // A second start gets a fresh file without the early lines again.
    Logger::Instance().StartLogging();
    QFile second(QString::fromLocal8Bit(Logger::Instance().GetDumpFolder()) + QStringLiteral("/Praxilo_TOOL.log"));
    if (second.fileName() != log.fileName()) {
        QVERIFY(second.open(QIODevice::ReadOnly));
        QVERIFY(!second.readAll().contains("BlowEfuseEnable"));
    }
}

QTEST_GUILESS_MAIN(EarlyLinesTest)
#include "tst_EarlyLines.moc"
