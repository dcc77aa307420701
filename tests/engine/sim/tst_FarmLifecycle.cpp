// Cleaning up and reconfiguring the engine while it is in use: from inside a call's own callback.
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

QTEST_GUILESS_MAIN(FarmLifecycleTest)
#include "tst_FarmLifecycle.moc"
