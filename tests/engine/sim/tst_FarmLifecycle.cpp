// Cleaning up and reconfiguring the engine while it is in use: from inside a call's own callback, and after
// a farm file was refused.
#include "SimTestSupport.h"

#include "quillon.h"
#include "quillon_sim.h"

#include <QtTest>

using namespace simtest;

namespace {

// Runs a cleanup or a configure from inside the first progress report of a call, timing it.
struct ReenterFromProgress
{
    QByteArray farmFile; // empty: clean up; otherwise configure this file
    bool done = false;
    int result = QUILLON_E_FAILED;
    qint64 elapsedMs = -1;

    static void Progress(void* user, unsigned int, uint64_t, const char*)
    {
        auto* self = static_cast<ReenterFromProgress*>(user);
        if (self->done)
            return;
        self->done = true;
        QElapsedTimer timer;
        timer.start();
        self->result =
            self->farmFile.isEmpty() ? quillon_cleanup() : quillon_sim_configure(self->farmFile.constData());
        self->elapsedMs = timer.elapsed();
    }
};

} // namespace

class FarmLifecycleTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup() { quillon_cleanup(); }

    void callbackEndsTheEngineWithoutWaitingForItsOwnCall_data();
    void callbackEndsTheEngineWithoutWaitingForItsOwnCall();
    void goodFarmFileTakesEffectAfterARefusedOne_data();
    void goodFarmFileTakesEffectAfterARefusedOne();
};

void FarmLifecycleTest::callbackEndsTheEngineWithoutWaitingForItsOwnCall_data()
{
    QTest::addColumn<bool>("configure");
    QTest::newRow("cleanup") << false;
    QTest::newRow("configure") << true;
}

void FarmLifecycleTest::callbackEndsTheEngineWithoutWaitingForItsOwnCall()
{
    QFETCH(bool, configure);
    QVERIFY(
        Restart(WriteFarm(QStringLiteral("first.ini"), QStringLiteral("[Farm]\nTimeScale=0\nPorts=1\n"))));
    const QString next =
        WriteFarm(QStringLiteral("next.ini"), QStringLiteral("[Farm]\nTimeScale=0\nPorts=2\n"));
    QuillonSession* session = quillon_create_session();
    QVERIFY(session != nullptr);
    QByteArray description;
    QCOMPARE(Scan(QStringLiteral("COM://COM3"), description, 10000), int(QUILLON_OK));

    ReenterFromProgress reenter;
    reenter.farmFile = configure ? next.toUtf8() : QByteArray();
    const OperationCallbacks callbacks{&reenter, nullptr, &ReenterFromProgress::Progress, nullptr, nullptr,
                                       nullptr,  nullptr};
    const int connected =
        quillon_connect_device(session, description.constData(), "115200@", "", "", &callbacks);
    QVERIFY(reenter.done);
    QCOMPARE(reenter.result, int(QUILLON_OK));
    // Waiting for its own call would take the whole five seconds cleanup allows calls in progress.
    QVERIFY2(reenter.elapsedMs < 2500, qPrintable(QStringLiteral("took %1 ms").arg(reenter.elapsedMs)));
    // The call that the callback interrupted ends on the farm it started on, which is gone.
    QCOMPARE(connected, int(QUILLON_E_NOT_STARTED));
    QCOMPARE(LastError(), QStringLiteral("Engine shut down during the operation"));

    if (configure) {
        QCOMPARE(Scan(QStringLiteral("COM://COM4"), description, 10000), int(QUILLON_OK));
    } else {
        QCOMPARE(quillon_create_session(), nullptr);
        QVERIFY2(LastError().contains(QStringLiteral("not started")), qPrintable(LastError()));
    }
}

void FarmLifecycleTest::goodFarmFileTakesEffectAfterARefusedOne_data()
{
    QTest::addColumn<QString>("badName");
    QTest::addColumn<QString>("badText"); // null: the file does not exist
    QTest::addColumn<bool>("started");
    const QString badValue = QStringLiteral("[Farm]\nPorts=many\n");
    QTest::newRow("bad value, engine running") << "bad_value.ini" << badValue << true;
    QTest::newRow("missing file, engine running") << "missing.ini" << QString() << true;
    QTest::newRow("bad value, engine cleaned up") << "bad_value.ini" << badValue << false;
}

void FarmLifecycleTest::goodFarmFileTakesEffectAfterARefusedOne()
{
    QFETCH(QString, badName);
    QFETCH(QString, badText);
    QFETCH(bool, started);
    QVERIFY(
        Restart(WriteFarm(QStringLiteral("one_port.ini"), QStringLiteral("[Farm]\nTimeScale=0\nPorts=1\n"))));
    if (!started)
        QCOMPARE(quillon_cleanup(), int(QUILLON_OK));
    const QString bad = badText.isNull() ? QDir::current().filePath(badName) : WriteFarm(badName, badText);
    QVERIFY(quillon_sim_configure(bad.toUtf8().constData()) != QUILLON_OK);
    const QString refusal = LastError();
    QVERIFY2(refusal.contains(bad), qPrintable(refusal));
    QCOMPARE(quillon_create_session(), nullptr);
    QCOMPARE(LastError(), refusal);

    const QString good =
        WriteFarm(QStringLiteral("two_ports.ini"), QStringLiteral("[Farm]\nTimeScale=0\nPorts=2\n"));
    QCOMPARE(quillon_sim_configure(good.toUtf8().constData()), int(QUILLON_OK));
    if (!started) {
        // A good file does not start an engine that was cleaned up; quillon_startup still does.
        QCOMPARE(quillon_create_session(), nullptr);
        QVERIFY2(LastError().contains(QStringLiteral("not started")), qPrintable(LastError()));
        QCOMPARE(quillon_startup(nullptr), int(QUILLON_OK));
    }
    QByteArray description;
    QCOMPARE(Scan(QStringLiteral("COM://COM4"), description, 10000), int(QUILLON_OK));
    QuillonSession* session = quillon_create_session();
    QVERIFY2(session != nullptr, qPrintable(LastError()));
    QCOMPARE(quillon_destroy_session(session), int(QUILLON_OK));
}

QTEST_GUILESS_MAIN(FarmLifecycleTest)
#include "tst_FarmLifecycle.moc"
