// The station's policies on their own: each is driven through its named points with a recording host,
// as the port manager would call them, without a port manager or a device.
#include "PortTestSupport.h"

#include "common/ControlReader.h"
#include "common/LoadCheckPolicy.h"
#include "common/LockedProfilePolicy.h"
#include "common/PortStatus.h"
#include "common/RowOutcomePolicy.h"
#include "common/StationPolicies.h"
#include "common/StationPolicyHost.h"
#include "common/TargetPolicy.h"
#include "common/VerificationPolicy.h"
#include "record/LoadDigest.h"

#include <QDir>
#include <QFile>
#include <QtTest>

namespace {

struct RecordingHost : StationPolicyHost
{
    void ChangeRow(const PortRowChange& change) override { changes.push_back(change); }
    void ShowRowMessage(int row, const QString& text) override { messages << QStringLiteral("%1:%2").arg(row).arg(text); }
    void TellOperator(OperatorPrompt::Kind, const QString& title, const QString&) override { told << title; }
    void TellOperatorLater(OperatorPrompt::Kind, const QString& title, const QString&) override { toldLater << title; }
    void NotifyUnverifiedRun(const QString&) override { ++unverifiedNotices; }

    std::vector<PortRowChange> changes;
    QStringList messages, told, toldLater;
    int unverifiedNotices = 0;
};

// Refuses, withdraws or ends rows as set, and notes every point it was called at.
struct ScriptedPolicy : StationPolicy
{
    ScriptedPolicy(QStringList& calls, QString name) : calls(calls), name(std::move(name)) {}
    bool RefusesStart(int, ControlReader&) override { return Note("refuse", refuses); }
    bool DeviceFound(int, QString& withdrawn) override
    {
        withdrawn = withdraws ? name : withdrawn;
        return !Note("withdraw", withdraws);
    }
    bool RowGoesOn(int) const override { return !ends; }
    bool Note(const char* point, bool answer)
    {
        calls << name + QLatin1Char(':') + QLatin1String(point);
        return answer;
    }
    QStringList& calls;
    QString name;
    bool refuses = false, withdraws = false, ends = false;
};

ControlReader WindowWith(const QString& flashXml, int checksumLevel)
{
    ControlReader::WindowAsks asks;
    asks.content = [flashXml](const QString& name, QString& content) {
        content = name == QLatin1String("leFlashXmlPath") ? flashXml : content;
    };
    asks.checked = [](const QString&, bool&) {};
    asks.selected = [](int row, bool& selected) { selected = row % 2 == 1; };
    asks.options = [checksumLevel](RuntimeParameters& parameters) { parameters.checksumLevel = checksumLevel; };
    return ControlReader(asks);
}

AttemptRecord Attempt(const char* result)
{
    AttemptRecord record;
    record.result = QLatin1String(result);
    record.failedStage = QStringLiteral("connect");
    record.error = QStringLiteral("no answer");
    return record;
}

} // namespace

class StationPoliciesTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void theFirstRefusalOrWithdrawalWinsAndAnyPolicyEndsTheRow_data();
    void theFirstRefusalOrWithdrawalWinsAndAnyPolicyEndsTheRow();
    void controlsAreReadFromTheWindowOrTheHandedSettings();
    void aChangedLoadRefusesStartsAndWithdrawsDevicesUntilChecked();
    void aLockedProfileRefusesAnotherLoadTellingAStartAllOnce();
    void verificationRefusesAndNoticesOncePerRun_data();
    void verificationRefusesAndNoticesOncePerRun();
    void theTargetCountsOnlyAutoPollingsGoodDevices();
    void failuresInARowQuarantineTheRowUntilItsNextStart();
};

void StationPoliciesTest::theFirstRefusalOrWithdrawalWinsAndAnyPolicyEndsTheRow_data()
{
    QTest::addColumn<int>("acting"); // which of the two policies refuses, withdraws and ends; -1 none
    QTest::addColumn<QString>("calls");
    QTest::newRow("none") << -1 << "a:refuse b:refuse a:withdraw b:withdraw";
    QTest::newRow("first") << 0 << "a:refuse a:withdraw";
    QTest::newRow("second") << 1 << "a:refuse b:refuse a:withdraw b:withdraw";
}

void StationPoliciesTest::theFirstRefusalOrWithdrawalWinsAndAnyPolicyEndsTheRow()
{
    QFETCH(int, acting);
    QFETCH(QString, calls);
    QStringList called;
    ScriptedPolicy a(called, QStringLiteral("a")), b(called, QStringLiteral("b"));
    for (ScriptedPolicy* policy : {&a, &b})
        policy->refuses = policy->withdraws = policy->ends = policy == (acting == 0 ? &a : acting == 1 ? &b : nullptr);
    StationPolicies policies;
    policies.Add(a);
    policies.Add(b);
    ControlReader reads = WindowWith(QString(), 0);
    QString withdrawn;
    QCOMPARE(policies.RefusesStart(0, reads), acting >= 0);
    QCOMPARE(policies.DeviceFound(0, withdrawn), acting < 0);
    QCOMPARE(withdrawn, QString::fromLatin1(acting == 0 ? "a" : acting == 1 ? "b" : ""));
    QCOMPARE(policies.RowGoesOn(0), acting < 0);
    QCOMPARE(called.join(QLatin1Char(' ')), calls);
}

void StationPoliciesTest::controlsAreReadFromTheWindowOrTheHandedSettings()
{
    ControlReader reads = WindowWith(QStringLiteral("window.xml"), 2);
    RuntimeParameters parameters;
    reads.ReadOptions(parameters);
    QCOMPARE(QStringLiteral("%1 %2 %3 %4").arg(reads.FlashXml()).arg(parameters.checksumLevel).arg(reads.ReadSelected(1)).arg(reads.ReadSelected(2)),
             QStringLiteral("window.xml 2 1 0"));
    RunSettings handed;
    handed.flashXmlPath = QStringLiteral("handed.xml");
    handed.runtimeParameters.checksumLevel = 3;
    handed.selectedRows[2] = true;
    handed.scene = RunSettings::Scene::EfuseWrite;
    reads.SetRunSettings(handed);
    reads.ReadOptions(parameters);
    QCOMPARE(QStringLiteral("%1 %2 %3 %4").arg(reads.FlashXml()).arg(parameters.checksumLevel).arg(reads.ReadSelected(1)).arg(reads.ReadSelected(2)),
             QStringLiteral("handed.xml 3 0 1"));
    QVERIFY(reads.ReadSceneChecked(QStringLiteral("rbEFUSEWrite"), RunSettings::Scene::EfuseWrite));
}

void StationPoliciesTest::aChangedLoadRefusesStartsAndWithdrawsDevicesUntilChecked()
{
    const simtest::SampleLoad load = PortTestSupport::WriteStationLoad(QDir::current().absoluteFilePath(QStringLiteral("watched")));
    RecordingHost host;
    LoadCheckPolicy policy(host);
    ControlReader reads = WindowWith(load.flashXmlPath, 0);
    QCOMPARE(policy.LoadChecked(true, LoadSnapshot::Take(load.flashXmlPath, load.scatterPath)), QString());
    QString withdrawn;
    QVERIFY(!policy.RefusesStart(0, reads) && policy.DeviceFound(0, withdrawn) && policy.RowGoesOn(0));

    QVERIFY(QFile::remove(load.scatterPath));
    QVERIFY(!policy.DeviceFound(3, withdrawn));
    QVERIFY2(withdrawn.startsWith(QStringLiteral("The load changed during the run: ")), qPrintable(withdrawn));
    QVERIFY(!policy.DeviceFound(4, withdrawn) && !policy.RowGoesOn(0) && policy.RefusesStart(0, reads));
    QCOMPARE(host.toldLater, QStringList{QStringLiteral("Load Changed")});
    QCOMPARE(host.told, QStringList());
    QVERIFY(!policy.ChangedReason().isEmpty());

    // A failed check watches nothing, so nothing is refused for the change any more.
    QCOMPARE(policy.LoadChecked(false, LoadSnapshot::Take(load.flashXmlPath, load.scatterPath)), QString());
    QVERIFY(!policy.RefusesStart(0, reads) && policy.RowGoesOn(0));
}

void StationPoliciesTest::aLockedProfileRefusesAnotherLoadTellingAStartAllOnce()
{
    const simtest::SampleLoad pinned = PortTestSupport::WriteStationLoad(QDir::current().absoluteFilePath(QStringLiteral("pinned")));
    const simtest::SampleLoad other = PortTestSupport::WriteStationLoad(QDir::current().absoluteFilePath(QStringLiteral("other")), 8192);
    RecordingHost host;
    LockedProfilePolicy policy(host);
    ControlReader otherLoad = WindowWith(other.flashXmlPath, 0);
    QVERIFY(!policy.RefusesStart(0, otherLoad) && !policy.IsKept(QStringLiteral("rbEFUSEWrite")));
    policy.SetProfile(true, LoadDigest(pinned.scatterPath));
    QVERIFY(policy.IsKept(QStringLiteral("rbEFUSEWrite")) && !policy.IsKept(QStringLiteral("btnScan")));
    ControlReader pinnedLoad = WindowWith(pinned.flashXmlPath, 0);
    QVERIFY(!policy.RefusesStart(0, pinnedLoad));
    policy.StartAllBegins();
    QVERIFY(policy.RefusesStart(0, otherLoad) && policy.RefusesStart(1, otherLoad));
    policy.StartAllEnded();
    QCOMPARE(host.told, QStringList{QStringLiteral("Locked Profile")});
    QVERIFY(policy.PinnedLoadRefusal(other.flashXmlPath).contains(LoadDigest(other.scatterPath)));
}

void StationPoliciesTest::verificationRefusesAndNoticesOncePerRun_data()
{
    QTest::addColumn<bool>("required");
    QTest::addColumn<int>("level");
    QTest::addColumn<bool>("othersBusy");
    QTest::addColumn<int>("refusalsTold"); // of two rows started by one Start All
    QTest::addColumn<int>("notices");
    QTest::newRow("level 1, not required") << false << 1 << false << 0 << 1;
    QTest::newRow("level 1, beside a running row") << false << 1 << true << 0 << 1;
    QTest::newRow("level 1, required") << true << 1 << false << 1 << 0;
    QTest::newRow("level 2, required") << true << 2 << false << 0 << 0;
}

void StationPoliciesTest::verificationRefusesAndNoticesOncePerRun()
{
    QFETCH(bool, required);
    QFETCH(int, level);
    QFETCH(bool, othersBusy);
    QFETCH(int, refusalsTold);
    QFETCH(int, notices);
    RecordingHost host;
    VerificationPolicy policy(host);
    policy.SetRequired(required);
    ControlReader reads = WindowWith(QString(), level);
    policy.StartAllBegins();
    for (int row = 0; row < 2; ++row) {
        if (!policy.RefusesStart(row, reads))
            policy.RowLaunched(RowRun{row, false, level, othersBusy || row > 0});
    }
    policy.StartAllEnded();
    QCOMPARE(host.told.size(), refusalsTold);
    QCOMPARE(host.unverifiedNotices, notices);
    // A single row's start beside a running one joins the run already told.
    policy.RowLaunched(RowRun{5, false, level, true});
    QCOMPARE(host.unverifiedNotices, notices);
}

void StationPoliciesTest::theTargetCountsOnlyAutoPollingsGoodDevices()
{
    TargetPolicy policy;
    policy.SetTarget(2);
    policy.StartAllBegins();
    for (const AttemptEnd& end : {AttemptEnd{0, PortStatus::OK, false}, AttemptEnd{0, PortStatus::FAIL, true},
                                  AttemptEnd{1, PortStatus::OK, true}}) {
        policy.AttemptCounted(end);
        QVERIFY(policy.RowGoesOn(0) && policy.RowGoesOnAfterPause(0));
    }
    QCOMPARE(policy.Remaining(), 1);
    policy.AttemptCounted(AttemptEnd{0, PortStatus::OK, true});
    QVERIFY(policy.IsMet() && !policy.RowGoesOn(1) && !policy.RowGoesOnAfterPause(1));
    policy.StartAllBegins();
    QVERIFY(!policy.IsMet() && policy.RowGoesOn(1) && policy.Remaining() == 2);
}

void StationPoliciesTest::failuresInARowQuarantineTheRowUntilItsNextStart()
{
    RecordingHost host;
    RowOutcomePolicy policy(host);
    policy.SetQuarantineAfter(2);
    policy.RowStarts(3);
    QStringList marked;
    for (const char* result : {"FAIL", "CANL", "FAIL", "FAIL"}) {
        AttemptRecord record = Attempt(result);
        policy.AttemptEnded(AttemptEnd{3, PortStatus::FAIL, true}, record);
        marked << QStringLiteral("%1%2").arg(QLatin1String(result)).arg(record.quarantined ? "!" : "");
        if (!policy.RowGoesOn(3))
            break;
    }
    QCOMPARE(marked.join(QLatin1Char(' ')), QStringLiteral("FAIL CANL FAIL!"));
    policy.RowEnded(3);
    QCOMPARE(host.messages.size(), 1);
    QVERIFY2(host.messages[0].startsWith(QStringLiteral("3:Quarantined after 2 FAIL in a row (last: connect, no answer)")),
             qPrintable(host.messages[0]));
    QVERIFY(host.changes.back().outcomes->quarantined);
    policy.RowStarts(3);
    QVERIFY(policy.RowGoesOn(3) && !host.changes.back().outcomes->quarantined);
    policy.RowEnded(3);
    QCOMPARE(host.messages.size(), 1);
}

QTEST_GUILESS_MAIN(StationPoliciesTest)
#include "tst_StationPolicies.moc"
