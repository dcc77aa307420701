// The farm's SLA gate: a device with DA SLA takes flash, erase and eFuse writes only after it accepted the
// keyed answer to its own challenge, and a port with BROM SLA connects only when the caller's SLA_Challenge
// answers the boot ROM's challenge.
#include "SimTestSupport.h"
#include "SlaDigest.h"

#include "LoadFormat.h"
#include "quillon.h"

#include <QMessageAuthenticationCode>
#include <QtTest>

#include <vector>

using namespace simtest;

namespace {

const QString kNoPolicy = QStringLiteral("refused: the device on COM3 has DA SLA enabled");
const QString kWrongPolicy = QStringLiteral("refused the flash policy: the response does not answer");

struct FirmwareInfo
{
    QByteArray rnd;
    QByteArray hrid;
    QByteArray socid;
};

int Execute(QuillonSession* session, const QByteArray& document)
{
    return quillon_execute_command(session, document.constData(), nullptr);
}

QString FarmText(const QString& keys)
{
    return QStringLiteral("[Farm]\nTimeScale=0\nLinkMBps=0\nPorts=2\n") + keys;
}

// Asks the device for its challenge; empty fields when the answer cannot be read.
FirmwareInfo AskChallenge(QuillonSession* session)
{
    std::vector<char> buffer(0x10000);
    FirmwareInfo info;
    if (Execute(session, Command("CMD:SECURITY-GET-DEV-FW-INFO",
                                 {{"target_file", MemoryTarget(buffer.data(), buffer.size())}})) !=
        QUILLON_OK)
        return info;
    loadformat::XmlNode root;
    QString error;
    if (!loadformat::ReadXmlTree(QByteArray(buffer.data()), root, error))
        return info;
    for (const auto& [name, field] : {std::make_pair(QStringLiteral("rnd"), &info.rnd),
                                      std::make_pair(QStringLiteral("hrid"), &info.hrid),
                                      std::make_pair(QStringLiteral("socid"), &info.socid)}) {
        if (const loadformat::XmlNode* node = root.Child(name))
            *field = QByteArray::fromHex(node->text.toLatin1());
    }
    return info;
}

// The answer the authentication library gives: HMAC-SHA256 over [id of the type][rnd].
QByteArray Answer(const FirmwareInfo& info, int type, const QByteArray& key)
{
    const QByteArray id = type == 1 ? info.hrid : type == 2 ? info.socid : QByteArray();
    return QMessageAuthenticationCode::hash(id + info.rnd, key, QCryptographicHash::Sha256);
}

int SendPolicy(QuillonSession* session, const QByteArray& response)
{
    return Execute(session, Command("CMD:SECURITY-SET-FLASH-POLICY",
                                    {{"source_file", MemoryTarget(response.constData(), response.size())}}));
}

// The caller's authentication library for the boot ROM's challenge: answers with a key, or fails.
struct BromResponder
{
    QByteArray key;
    int result = 0;
    bool nullResponse = false;
    QByteArray challenge;
    QByteArray response;
    int ends = 0;
    bool endGotTheResponse = false;

    static BromResponder* current;

    static int Challenge(void*, const uint8_t* data, uint32_t length, uint8_t** response,
                         uint32_t* responseLength)
    {
        BromResponder& self = *current;
        self.challenge = QByteArray(reinterpret_cast<const char*>(data), int(length));
        if (self.result != 0)
            return self.result;
        self.response =
            QMessageAuthenticationCode::hash(self.challenge, self.key, QCryptographicHash::Sha256);
        *response = self.nullResponse ? nullptr : reinterpret_cast<uint8_t*>(self.response.data());
        *responseLength = uint32_t(self.response.size());
        return 0;
    }
    static int End(void*, uint8_t* response)
    {
        BromResponder& self = *current;
        ++self.ends;
        self.endGotTheResponse = response == reinterpret_cast<uint8_t*>(self.response.data());
        return 0;
    }
};
BromResponder* BromResponder::current = nullptr;

} // namespace

class FarmSlaTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanup();

    void protectedCommandsWaitForAnAcceptedPolicy_data();
    void protectedCommandsWaitForAnAcceptedPolicy();
    void policyAcceptsOnlyTheKeyedDigestOfItsChallenge_data();
    void policyAcceptsOnlyTheKeyedDigestOfItsChallenge();
    void eachChallengeIsAnsweredOnce();
    void deviceWithoutSlaTakesCommandsAndAnyPolicy();
    void portsKeepTheirOwnKeyAndType();
    void bromSlaDecidesTheConnect_data();
    void bromSlaDecidesTheConnect();
    void slaKeysAreReadStrictly_data();
    void slaKeysAreReadStrictly();

private:
    QuillonSession* Open(const QString& farm, const QString& port = QStringLiteral("COM3"));

    SampleLoad load;
    QString efuseFile;
    std::vector<QuillonSession*> sessions;
};

void FarmSlaTest::initTestCase()
{
    load = WriteLoad(QStringLiteral("load"), {{"boot", "boot.img", 70000}, {"system", "system.img", 30000}});
    efuseFile = WriteFile(QDir::current().filePath(QStringLiteral("efuse.bin")), QByteArray(64, '\x11'));
}

void FarmSlaTest::cleanup()
{
    for (QuillonSession* session : sessions)
        quillon_destroy_session(session);
    sessions.clear();
    quillon_cleanup();
}

QuillonSession* FarmSlaTest::Open(const QString& farm, const QString& port)
{
    QString error;
    if (!farm.isEmpty() && !Restart(WriteFarm(QStringLiteral("sla.ini"), farm), &error)) {
        qWarning("%s", qPrintable(error));
        return nullptr;
    }
    QuillonSession* session = OpenDaSession(QStringLiteral("COM://") + port, load, error);
    if (session == nullptr)
        qWarning("%s", qPrintable(error));
    else
        sessions.push_back(session);
    return session;
}

void FarmSlaTest::protectedCommandsWaitForAnAcceptedPolicy_data()
{
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<bool>("guarded");
    const QString folder = QDir::current().filePath(QStringLiteral("out"));
    QDir().mkpath(folder);
    QTest::newRow("erase") << Command("CMD:ERASE-FLASH", {{"partition", "ALL"}}) << true;
    QTest::newRow("flash all") << Command("CMD:FLASH-ALL", {{"source_file", load.scatterPath}}) << true;
    QTest::newRow("flash update") << Command("CMD:FLASH-UPDATE",
                                             {{"source_file", load.scatterPath}, {"backup_folder", folder}})
                                  << true;
    QTest::newRow("efuse write") << Command("CMD:WRITE-EFUSE", {{"source_file", efuseFile}}) << true;
    QTest::newRow("efuse read") << Command("CMD:READ-EFUSE", {{"target_file", folder + "/efuse_back.bin"}})
                                << false;
    QTest::newRow("feedback") << Command("CMD:GET-DOWNLOADED-IMAGE-FEEDBACK",
                                         {{"target_file", folder + "/fb.xml"}})
                              << false;
    QTest::newRow("boot mode") << Command("CMD:SET-BOOT-MODE", {{"mode", "META"}}) << false;
    QTest::newRow("reboot") << Command("CMD:REBOOT", {{"action", "DISCONNECT"}}) << false;
}

void FarmSlaTest::protectedCommandsWaitForAnAcceptedPolicy()
{
    QFETCH(QByteArray, document);
    QFETCH(bool, guarded);
    QuillonSession* session = Open(FarmText(QStringLiteral("Sla=Enabled\nSlaKey=gate\nSlaType=1\n")));
    QVERIFY(session != nullptr);
    QCOMPARE(Execute(session, document), guarded ? int(QUILLON_E_AUTH) : int(QUILLON_OK));
    if (guarded)
        QVERIFY2(LastError(session).contains(kNoPolicy), qPrintable(LastError(session)));

    QCOMPARE(SendPolicy(session, Answer(AskChallenge(session), 1, "gate")), int(QUILLON_OK));
    QVERIFY2(Execute(session, document) == QUILLON_OK, qPrintable(LastError(session)));
}

void FarmSlaTest::policyAcceptsOnlyTheKeyedDigestOfItsChallenge_data()
{
    QTest::addColumn<int>("farmType");
    QTest::addColumn<int>("answerType");
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<int>("sizeChange"); // bytes added to (or cut from) the answer
    QTest::addColumn<bool>("flipLastByte");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("type 1: hrid and rnd") << 1 << 1 << QByteArray("row-key") << 0 << false << true;
    QTest::newRow("type 2: socid and rnd") << 2 << 2 << QByteArray("row-key") << 0 << false << true;
    QTest::newRow("type 0: rnd alone") << 0 << 0 << QByteArray("row-key") << 0 << false << true;
    QTest::newRow("another type: rnd alone") << 7 << 7 << QByteArray("row-key") << 0 << false << true;
    QTest::newRow("type 1 answered as type 2") << 1 << 2 << QByteArray("row-key") << 0 << false << false;
    QTest::newRow("type 2 answered as type 0") << 2 << 0 << QByteArray("row-key") << 0 << false << false;
    QTest::newRow("type 0 answered as type 1") << 0 << 1 << QByteArray("row-key") << 0 << false << false;
    QTest::newRow("other key") << 1 << 1 << QByteArray("row-kez") << 0 << false << false;
    QTest::newRow("last byte changed") << 1 << 1 << QByteArray("row-key") << 0 << true << false;
    QTest::newRow("one byte short") << 1 << 1 << QByteArray("row-key") << -1 << false << false;
    QTest::newRow("one byte extra") << 1 << 1 << QByteArray("row-key") << 1 << false << false;
}

void FarmSlaTest::policyAcceptsOnlyTheKeyedDigestOfItsChallenge()
{
    QFETCH(int, farmType);
    QFETCH(int, answerType);
    QFETCH(QByteArray, key);
    QFETCH(int, sizeChange);
    QFETCH(bool, flipLastByte);
    QFETCH(bool, accepted);
    QuillonSession* session =
        Open(FarmText(QStringLiteral("Sla=Enabled\nSlaKey=row-key\nSlaType=%1\n").arg(farmType)));
    QVERIFY(session != nullptr);
    const FirmwareInfo info = AskChallenge(session);
    QCOMPARE(info.rnd.size(), 16);
    QByteArray answer = Answer(info, answerType, key);
    answer = sizeChange < 0 ? answer.left(answer.size() + sizeChange) : answer + QByteArray(sizeChange, '\0');
    if (flipLastByte)
        answer[answer.size() - 1] = char(answer.at(answer.size() - 1) ^ 1);

    QCOMPARE(SendPolicy(session, answer), accepted ? int(QUILLON_OK) : int(QUILLON_E_AUTH));
    if (!accepted)
        QVERIFY2(LastError(session).contains(kWrongPolicy), qPrintable(LastError(session)));
    const int flashed = Execute(session, Command("CMD:FLASH-ALL", {{"source_file", load.scatterPath}}));
    QCOMPARE(flashed, accepted ? int(QUILLON_OK) : int(QUILLON_E_AUTH));
}

void FarmSlaTest::eachChallengeIsAnsweredOnce()
{
    QuillonSession* session = Open(FarmText(QStringLiteral("Sla=Enabled\nSlaKey=once\nSlaType=2\n")));
    QVERIFY(session != nullptr);
    QCOMPARE(SendPolicy(session, QByteArray(32, '\0')), int(QUILLON_E_AUTH));
    QVERIFY2(LastError(session).contains(QStringLiteral("gave no DA SLA challenge")),
             qPrintable(LastError(session)));

    // A newer challenge replaces the older one, and a wrong answer uses the challenge up.
    const FirmwareInfo older = AskChallenge(session);
    const FirmwareInfo newer = AskChallenge(session);
    QVERIFY(older.rnd != newer.rnd);
    QCOMPARE(older.socid, newer.socid);
    QCOMPARE(SendPolicy(session, Answer(older, 2, "once")), int(QUILLON_E_AUTH));
    QCOMPARE(SendPolicy(session, Answer(newer, 2, "once")), int(QUILLON_E_AUTH));
    QVERIFY2(LastError(session).contains(QStringLiteral("gave no DA SLA challenge")),
             qPrintable(LastError(session)));

    const FirmwareInfo fresh = AskChallenge(session);
    const QByteArray answer = Answer(fresh, 2, "once");
    QCOMPARE(SendPolicy(session, answer), int(QUILLON_OK));
    QCOMPARE(SendPolicy(session, answer), int(QUILLON_E_AUTH));
    // A refused replay does not take back the policy already accepted.
    QCOMPARE(Execute(session, Command("CMD:ERASE-FLASH", {{"partition", "ALL"}})), int(QUILLON_OK));
}

void FarmSlaTest::deviceWithoutSlaTakesCommandsAndAnyPolicy()
{
    QuillonSession* session = Open(FarmText(QStringLiteral("SlaKey=unused\n")));
    QVERIFY(session != nullptr);
    QCOMPARE(Execute(session, Command("CMD:ERASE-FLASH", {{"partition", "ALL"}})), int(QUILLON_OK));
    QCOMPARE(SendPolicy(session, QByteArray(5, 'x')), int(QUILLON_OK));
}

void FarmSlaTest::portsKeepTheirOwnKeyAndType()
{
    QVERIFY(Open(FarmText(QStringLiteral("Sla=Enabled\n[Port-COM4]\nSlaKey=fourth\nSlaType=2\n"))) !=
            nullptr);
    QuillonSession* third = sessions.back();
    QuillonSession* fourth = Open(QString(), QStringLiteral("COM4"));
    QVERIFY(fourth != nullptr);
    QCOMPARE(SendPolicy(third, Answer(AskChallenge(third), sladigest::kDefaultType, sladigest::DefaultKey())),
             int(QUILLON_OK));
    QCOMPARE(
        SendPolicy(fourth, Answer(AskChallenge(fourth), sladigest::kDefaultType, sladigest::DefaultKey())),
        int(QUILLON_E_AUTH));
    QCOMPARE(SendPolicy(fourth, Answer(AskChallenge(fourth), 2, "fourth")), int(QUILLON_OK));
}

void FarmSlaTest::bromSlaDecidesTheConnect_data()
{
    QTest::addColumn<QString>("farmKeys");
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<int>("result");
    QTest::addColumn<bool>("nullResponse");
    QTest::addColumn<bool>("giveFunctions");
    QTest::addColumn<bool>("giveEnd");
    QTest::addColumn<QString>("error"); // empty: connects
    const QString brom = QStringLiteral("BromSla=Enabled\nSlaKey=brom\n");
    const QString wrong = QStringLiteral("the SLA_Challenge response does not answer its challenge");
    QTest::newRow("right answer") << brom << QByteArray("brom") << 0 << false << true << true << QString();
    QTest::newRow("right answer, no end function")
        << brom << QByteArray("brom") << 0 << false << true << false << QString();
    QTest::newRow("wrong answer") << brom << QByteArray("other") << 0 << false << true << true << wrong;
    QTest::newRow("no response") << brom << QByteArray("brom") << 0 << true << true << true << wrong;
    QTest::newRow("challenge fails") << brom << QByteArray("brom") << 3 << false << true << true
                                     << QStringLiteral("SLA_Challenge returned 3");
    QTest::newRow("no functions") << brom << QByteArray("brom") << 0 << false << false << false
                                  << QStringLiteral("no SLA_Challenge function was given");
    QTest::newRow("disabled asks nothing")
        << QStringLiteral("SlaKey=brom\n") << QByteArray("other") << 0 << false << true << true << QString();
}

void FarmSlaTest::bromSlaDecidesTheConnect()
{
    QFETCH(QString, farmKeys);
    QFETCH(QByteArray, key);
    QFETCH(int, result);
    QFETCH(bool, nullResponse);
    QFETCH(bool, giveFunctions);
    QFETCH(bool, giveEnd);
    QFETCH(QString, error);
    QVERIFY(Restart(WriteFarm(QStringLiteral("brom.ini"), FarmText(farmKeys))));
    BromResponder responder;
    responder.key = key;
    responder.result = result;
    responder.nullResponse = nullResponse;
    BromResponder::current = &responder;
    const OperationCallbacks callbacks{nullptr,
                                       nullptr,
                                       nullptr,
                                       giveFunctions ? &BromResponder::Challenge : nullptr,
                                       giveEnd ? &BromResponder::End : nullptr,
                                       nullptr,
                                       nullptr};
    QString failure;
    QuillonSession* session = OpenDaSession(QStringLiteral("COM://COM3"), load, failure, &callbacks);
    if (session != nullptr)
        sessions.push_back(session);
    QCOMPARE(session != nullptr, error.isEmpty());
    QVERIFY2(failure.contains(error), qPrintable(failure));
    const bool asked = giveFunctions && farmKeys.contains(QLatin1String("BromSla=Enabled"));
    QCOMPARE(responder.challenge.size(), asked ? 16 : 0);
    const bool answered = asked && result == 0 && giveEnd;
    QCOMPARE(responder.ends, answered ? 1 : 0);
    QCOMPARE(responder.endGotTheResponse, answered && !nullResponse);

    // A refused device is free again, and the next connect gets a challenge of its own.
    const QByteArray first = responder.challenge;
    BromResponder right;
    right.key = "brom";
    BromResponder::current = &right;
    const OperationCallbacks rightCallbacks{nullptr, nullptr, nullptr, &BromResponder::Challenge,
                                            nullptr, nullptr, nullptr};
    if (session == nullptr) {
        session = OpenDaSession(QStringLiteral("COM://COM3"), load, failure, &rightCallbacks);
        QVERIFY2(session != nullptr, qPrintable(failure));
        sessions.push_back(session);
        QVERIFY(right.challenge != first);
    }
}

void FarmSlaTest::slaKeysAreReadStrictly_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("key");
    QTest::newRow("empty key") << "SlaKey="
                               << "SlaKey";
    QTest::newRow("key too long") << "SlaKey=" + QString(1025, QLatin1Char('k')) << "SlaKey";
    QTest::newRow("type not a number") << "SlaType=two"
                                       << "SlaType";
    QTest::newRow("type a fraction") << "SlaType=1.5"
                                     << "SlaType";
    QTest::newRow("brom sla yes") << "BromSla=yes"
                                  << "BromSla";
    QTest::newRow("brom sla on a port") << "[Port-COM4]\nBromSla=1"
                                        << "BromSla";
}

void FarmSlaTest::slaKeysAreReadStrictly()
{
    QFETCH(QString, line);
    QFETCH(QString, key);
    QString error;
    QVERIFY(!Restart(WriteFarm(QStringLiteral("strict.ini"), FarmText(line + QLatin1Char('\n'))), &error));
    QVERIFY2(error.contains(QStringLiteral("] %1 = ").arg(key)) &&
                 error.contains(QStringLiteral("is not valid")),
             qPrintable(error));
}

QTEST_GUILESS_MAIN(FarmSlaTest)
#include "tst_FarmSla.moc"
