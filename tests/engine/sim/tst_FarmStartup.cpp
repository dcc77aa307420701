// Where the engine finds its farm description at start-up when nobody configured it at run time.
#include "SimTestSupport.h"

#include "quillon.h"
#include "quillon_sim.h"

#include <QtTest>

using namespace simtest;

class FarmStartupTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Runs first: once quillon_sim_configure is called the environment no longer decides.
    void environmentVariableNamesTheFarmFile();
    void missingFileNamedByEnvironmentBlocksEveryCall();
    void configureWithoutFileRestoresDefaults();
};

void FarmStartupTest::environmentVariableNamesTheFarmFile()
{
    const QString path =
        WriteFarm(QStringLiteral("env_farm.ini"), QStringLiteral("[Farm]\nTimeScale=0\nPorts=2\n"));
    qputenv("QUILLON_FARM", path.toLocal8Bit());
    QCOMPARE(quillon_startup(nullptr), int(QUILLON_OK));
    QByteArray description;
    QCOMPARE(Scan(QStringLiteral("COM://COM4"), description, 10000), int(QUILLON_OK));
    QCOMPARE(Scan(QStringLiteral("COM://COM5"), description, 0), int(QUILLON_E_INVALID_ARGUMENT));
    QCOMPARE(LastError(), QStringLiteral("No port COM5 in the farm (it has COM3 to COM4)"));
    QCOMPARE(quillon_cleanup(), int(QUILLON_OK));
}

void FarmStartupTest::missingFileNamedByEnvironmentBlocksEveryCall()
{
    const QString path = QDir::current().filePath(QStringLiteral("missing_env_farm.ini"));
    qputenv("QUILLON_FARM", path.toLocal8Bit());
    QVERIFY(quillon_startup(nullptr) != QUILLON_OK);
    const QString error = LastError();
    QVERIFY2(error.contains(path) && error.contains(QStringLiteral("QUILLON_FARM")), qPrintable(error));
    QCOMPARE(quillon_create_session(), nullptr);
    QCOMPARE(LastError(), error);
    QVERIFY(quillon_startup(nullptr) != QUILLON_OK);
    qunsetenv("QUILLON_FARM");
}

void FarmStartupTest::configureWithoutFileRestoresDefaults()
{
    QCOMPARE(quillon_sim_configure(nullptr), int(QUILLON_OK));
    QCOMPARE(quillon_startup(nullptr), int(QUILLON_OK));
    QByteArray description;
    QCOMPARE(Scan(QStringLiteral("COM://COM19"), description, 0), int(QUILLON_E_INVALID_ARGUMENT));
    QCOMPARE(LastError(), QStringLiteral("No port COM19 in the farm (it has COM3 to COM18)"));
    QCOMPARE(quillon_cleanup(), int(QUILLON_OK));
}

QTEST_GUILESS_MAIN(FarmStartupTest)
#include "tst_FarmStartup.moc"
