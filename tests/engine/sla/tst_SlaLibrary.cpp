// The authentication stand-in as the tool and the farm load it: keyed answers, the type and result its
// configuration file sets, what it records, responses that belong to the thread that asked, and variants.
#include "CallerThread.h"
#include "SlaDigest.h"

#include "quillon.h"

#include <QLibrary>
#include <QMessageAuthenticationCode>
#include <QtTest>

#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace {

constexpr int kThreads = 16;
uint8_t* const kUntouched = reinterpret_cast<uint8_t*>(quintptr(0x5a5a));

struct Api
{
    SLA_Challenge_Fn brom = nullptr;
    SLA_Challenge_END_Fn bromEnd = nullptr;
    SLA_Feature_Config_Fn featureConfig = nullptr;
    DA_SLA_Challenge_Fn da = nullptr;
    DA_SLA_Challenge_END_Fn daEnd = nullptr;

    // The library stays loaded, as the tool leaves it.
    static Api Load(const QString& path)
    {
        QLibrary library(path);
        Api api;
        if (!library.load())
            return api;
        api.brom = reinterpret_cast<SLA_Challenge_Fn>(library.resolve("SLA_Challenge"));
        api.bromEnd = reinterpret_cast<SLA_Challenge_END_Fn>(library.resolve("SLA_Challenge_END"));
        api.featureConfig = reinterpret_cast<SLA_Feature_Config_Fn>(library.resolve("SLA_Feature_Config"));
        api.da = reinterpret_cast<DA_SLA_Challenge_Fn>(library.resolve("DA_SLA_Challenge"));
        api.daEnd = reinterpret_cast<DA_SLA_Challenge_END_Fn>(library.resolve("DA_SLA_Challenge_END"));
        return api;
    }
};

QByteArray Hmac(const QByteArray& key, const QByteArray& data)
{
    return QMessageAuthenticationCode::hash(data, key, QCryptographicHash::Sha256);
}

const uint8_t* Bytes(const QByteArray& data)
{
    return reinterpret_cast<const uint8_t*>(data.constData());
}

QByteArray Response(const uint8_t* response, uint32_t length)
{
    return QByteArray(reinterpret_cast<const char*>(response), int(length));
}

QString ConfigPath()
{
    return QDir::current().absoluteFilePath(QStringLiteral("sla.cfg"));
}

QString RecordPath()
{
    return QDir::current().absoluteFilePath(QStringLiteral("record.txt"));
}

// Writes the configuration with a fresh record behind it.
void Configure(const QByteArray& lines)
{
    QFile::remove(RecordPath());
    QFile file(ConfigPath());
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(lines + "\nRecord = " + RecordPath().toUtf8() + "\n");
}

QStringList Record()
{
    QFile file(RecordPath());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// Lets every thread hold its response before any of them looks at it.
class Barrier
{
public:
    explicit Barrier(int count) : waiting(count) {}
    void Arrive()
    {
        std::unique_lock<std::mutex> lock(mutex);
        if (--waiting == 0)
            allArrived.notify_all();
        allArrived.wait(lock, [this] { return waiting == 0; });
    }

private:
    std::mutex mutex;
    std::condition_variable allArrived;
    int waiting;
};

} // namespace

class SlaLibraryTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();

    void responseIsTheKeyedDigestOfTheData_data();
    void responseIsTheKeyedDigestOfTheData();
    void featureConfigReportsTheConfiguredType_data();
    void featureConfigReportsTheConfiguredType();
    void badConfigurationFailsEveryChallenge_data();
    void badConfigurationFailsEveryChallenge();
    void configuredResultIsReturnedWithoutAResponse();
    void badArgumentsGetNoResponse_data();
    void badArgumentsGetNoResponse();
    void recordShowsWhatEachCallReceived();
    void endReleasesOnlyItsOwnThreadsResponse();
    void sixteenThreadsEachKeepTheirOwnResponse();
    void variantsLackOrSpoilTheirFunction_data();
    void variantsLackOrSpoilTheirFunction();

private:
    Api api;
};

void SlaLibraryTest::initTestCase()
{
    qputenv("SLA_CHALLENGE_CONFIG", ConfigPath().toUtf8());
    api = Api::Load(QStringLiteral(PXL_SLA_LIBRARY));
    QVERIFY(api.brom && api.bromEnd && api.featureConfig && api.da && api.daEnd);
}

void SlaLibraryTest::init()
{
    Configure(QByteArray());
}

void SlaLibraryTest::responseIsTheKeyedDigestOfTheData_data()
{
    QTest::addColumn<QByteArray>("config");
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("data");
    QTest::newRow("built-in key") << QByteArray() << sladigest::DefaultKey() << QByteArray(16, '\x11');
    QTest::newRow("configured key") << QByteArray("Key = station-7") << QByteArray("station-7")
                                    << QByteArray::fromHex(
                                           "00112233445566778899aabbccddeeff0102030405060708090a"
                                           "0b0c0d0e0f10");
    QTest::newRow("key keeps inner spaces and equals signs")
        << QByteArray("# comment\n  Key =  a=b c  ") << QByteArray("a=b c") << QByteArray(48, '\x7f');
    QTest::newRow("one byte") << QByteArray("Key=k") << QByteArray("k") << QByteArray(1, '\0');
    QTest::newRow("64 KiB") << QByteArray("Key=k") << QByteArray("k") << QByteArray(64 * 1024, '\xa5');
}

void SlaLibraryTest::responseIsTheKeyedDigestOfTheData()
{
    QFETCH(QByteArray, config);
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, data);
    Configure(config);
    for (const auto& [challenge, end] :
         {std::make_pair(api.da, api.daEnd), std::make_pair(api.brom, api.bromEnd)}) {
        uint8_t* response = nullptr;
        uint32_t length = 0;
        QCOMPARE(challenge(nullptr, Bytes(data), uint32_t(data.size()), &response, &length), 0);
        QVERIFY(response != nullptr);
        QCOMPARE(Response(response, length), Hmac(key, data));
        QCOMPARE(end(nullptr, nullptr), 0);
    }
}

void SlaLibraryTest::featureConfigReportsTheConfiguredType_data()
{
    QTest::addColumn<QByteArray>("config");
    QTest::addColumn<int>("type");
    QTest::newRow("built-in") << QByteArray() << 1;
    QTest::newRow("type 0") << QByteArray("Type = 0") << 0;
    QTest::newRow("type 2") << QByteArray("Type=2") << 2;
    QTest::newRow("another type") << QByteArray("Type = 7") << 7;
    QTest::newRow("negative") << QByteArray("Type = -3") << -3;
    QTest::newRow("not a number reads as no type") << QByteArray("Type = two") << -1;
    QTest::newRow("fraction reads as no type") << QByteArray("Type = 1.5") << -1;
}

void SlaLibraryTest::featureConfigReportsTheConfiguredType()
{
    QFETCH(QByteArray, config);
    QFETCH(int, type);
    Configure(config);
    QCOMPARE(api.featureConfig(), type);
    QCOMPARE(Record(), QStringList{QStringLiteral("SLA_Feature_Config type=%1").arg(type)});
}

void SlaLibraryTest::badConfigurationFailsEveryChallenge_data()
{
    QTest::addColumn<QByteArray>("config");
    QTest::addColumn<bool>("missingFile");
    // Whether the record the file names tells why: a file that is not read names no record.
    QTest::addColumn<bool>("recorded");
    QTest::newRow("missing file") << QByteArray() << true << false;
    QTest::newRow("unknown key") << QByteArray("Colour = red") << false << true;
    QTest::newRow("line without equals sign") << QByteArray("Key") << false << true;
    QTest::newRow("empty key") << QByteArray("Key =") << false << true;
    QTest::newRow("result not a number") << QByteArray("Result = ok") << false << true;
    QTest::newRow("larger than 64 KiB") << QByteArray("# ") + QByteArray(64 * 1024, 'x') << false << false;
}

void SlaLibraryTest::badConfigurationFailsEveryChallenge()
{
    QFETCH(QByteArray, config);
    QFETCH(bool, missingFile);
    QFETCH(bool, recorded);
    Configure(config);
    if (missingFile)
        qputenv("SLA_CHALLENGE_CONFIG",
                QDir::current().absoluteFilePath(QStringLiteral("nowhere.cfg")).toUtf8());
    const QByteArray data(16, '\x01');
    for (DA_SLA_Challenge_Fn challenge : {api.da, api.brom}) {
        uint8_t* response = kUntouched;
        uint32_t length = 77;
        QCOMPARE(challenge(nullptr, Bytes(data), 16, &response, &length), -1);
        QCOMPARE(response, kUntouched);
        QCOMPARE(length, 77u);
    }
    QCOMPARE(api.featureConfig(), -1);
    qputenv("SLA_CHALLENGE_CONFIG", ConfigPath().toUtf8());
    QCOMPARE(Record().filter(QStringLiteral(" error=") + ConfigPath()).size(), recorded ? 2 : 0);
}

void SlaLibraryTest::configuredResultIsReturnedWithoutAResponse()
{
    const QByteArray data(16, '\x01');
    for (int result : {5, -2}) {
        Configure("Result = " + QByteArray::number(result));
        uint8_t* response = kUntouched;
        uint32_t length = 77;
        QCOMPARE(api.da(nullptr, Bytes(data), 16, &response, &length), result);
        QCOMPARE(api.brom(nullptr, Bytes(data), 16, &response, &length), result);
        QCOMPARE(response, kUntouched);
        QCOMPARE(length, 77u);
    }
}

void SlaLibraryTest::badArgumentsGetNoResponse_data()
{
    QTest::addColumn<bool>("nullData");
    QTest::addColumn<uint32_t>("dataLength");
    QTest::addColumn<bool>("nullResponse");
    QTest::addColumn<bool>("nullLength");
    QTest::newRow("null data") << true << 16u << false << false;
    QTest::newRow("no data") << false << 0u << false << false;
    QTest::newRow("over 64 KiB") << false << 64u * 1024u + 1u << false << false;
    QTest::newRow("null response pointer") << false << 16u << true << false;
    QTest::newRow("null length pointer") << false << 16u << false << true;
}

void SlaLibraryTest::badArgumentsGetNoResponse()
{
    QFETCH(bool, nullData);
    QFETCH(uint32_t, dataLength);
    QFETCH(bool, nullResponse);
    QFETCH(bool, nullLength);
    const QByteArray data(int(dataLength) + 1, '\x02');
    uint8_t* response = kUntouched;
    uint32_t length = 77;
    for (DA_SLA_Challenge_Fn challenge : {api.da, api.brom}) {
        QCOMPARE(challenge(nullptr, nullData ? nullptr : Bytes(data), dataLength,
                           nullResponse ? nullptr : &response, nullLength ? nullptr : &length),
                 -1);
        QCOMPARE(response, kUntouched);
        QCOMPARE(length, 77u);
    }
}

void SlaLibraryTest::recordShowsWhatEachCallReceived()
{
    Configure("Type = 2");
    const QByteArray block = QByteArray::fromHex("000102030405060708090a0b0c0d0e0f");
    int user = 0;
    uint8_t* response = nullptr;
    uint32_t length = 0;
    api.featureConfig();
    QCOMPARE(api.da(nullptr, Bytes(block), 16, &response, &length), 0);
    api.daEnd(nullptr, nullptr);
    api.daEnd(nullptr, nullptr);
    QCOMPARE(api.brom(&user, Bytes(block.left(3)), 3, &response, &length), 0);
    api.bromEnd(&user, response);
    const QStringList expected{
        QStringLiteral("SLA_Feature_Config type=2"),
        QStringLiteral("DA_SLA_Challenge user=0 length=16 data=000102030405060708090a0b0c0d0e0f"),
        QStringLiteral("DA_SLA_Challenge_END user=0 response=0 released=32"),
        QStringLiteral("DA_SLA_Challenge_END user=0 response=0 released=0"),
        QStringLiteral("SLA_Challenge user=1 length=3 data=000102"),
        QStringLiteral("SLA_Challenge_END user=1 response=1 released=32")};
    QCOMPARE(Record(), expected);
}

void SlaLibraryTest::endReleasesOnlyItsOwnThreadsResponse()
{
    const QByteArray first(16, '\x0f');
    const QByteArray second(32, '\xf0');
    simtest::CallerThread a;
    simtest::CallerThread b;
    uint8_t* responseA = nullptr;
    uint8_t* responseB = nullptr;
    uint32_t lengthA = 0;
    uint32_t lengthB = 0;
    a.Run([&] { api.da(nullptr, Bytes(first), 16, &responseA, &lengthA); });
    b.Run([&] { api.da(nullptr, Bytes(second), 32, &responseB, &lengthB); });
    QVERIFY(responseA != nullptr && responseB != nullptr && responseA != responseB);
    a.Run([&] { api.daEnd(nullptr, nullptr); });
    QCOMPARE(Response(responseB, lengthB), Hmac(sladigest::DefaultKey(), second));
    b.Run([&] { api.daEnd(nullptr, nullptr); });
    b.Run([&] { api.daEnd(nullptr, nullptr); });
    const QStringList record = Record();
    QCOMPARE(record.size(), 5);
    QCOMPARE(record.mid(2),
             QStringList({QStringLiteral("DA_SLA_Challenge_END user=0 response=0 released=32"),
                          QStringLiteral("DA_SLA_Challenge_END user=0 response=0 released=32"),
                          QStringLiteral("DA_SLA_Challenge_END user=0 response=0 released=0")}));
}

void SlaLibraryTest::sixteenThreadsEachKeepTheirOwnResponse()
{
    Configure("Key = parallel");
    Barrier barrier(kThreads);
    std::vector<QByteArray> seen(kThreads);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&, i] {
            const QByteArray data(48, char(i + 1));
            uint8_t* response = nullptr;
            uint32_t length = 0;
            const int result = api.da(nullptr, Bytes(data), uint32_t(data.size()), &response, &length);
            barrier.Arrive();
            if (result == 0)
                seen[size_t(i)] = Response(response, length);
            api.daEnd(nullptr, nullptr);
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    for (int i = 0; i < kThreads; ++i)
        QCOMPARE(seen[size_t(i)], Hmac("parallel", QByteArray(48, char(i + 1))));
    QCOMPARE(Record().filter(QStringLiteral("released=32")).size(), kThreads);
}

void SlaLibraryTest::variantsLackOrSpoilTheirFunction_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("featureConfig");
    QTest::addColumn<bool>("daChallenge");
    QTest::addColumn<bool>("daChallengeEnd");
    QTest::addColumn<bool>("rightAnswer");
    QTest::newRow("complete") << QStringLiteral(PXL_SLA_LIBRARY) << true << true << true << true;
    QTest::newRow("no feature config")
        << QStringLiteral(PXL_SLA_NO_FEATURE_CONFIG) << false << true << true << true;
    QTest::newRow("no DA challenge") << QStringLiteral(PXL_SLA_NO_DA_CHALLENGE) << true << false << true
                                     << true;
    QTest::newRow("no DA challenge end")
        << QStringLiteral(PXL_SLA_NO_DA_CHALLENGE_END) << true << true << false << true;
    QTest::newRow("wrong answer") << QStringLiteral(PXL_SLA_WRONG_ANSWER) << true << true << true << false;
}

void SlaLibraryTest::variantsLackOrSpoilTheirFunction()
{
    QFETCH(QString, path);
    QFETCH(bool, featureConfig);
    QFETCH(bool, daChallenge);
    QFETCH(bool, daChallengeEnd);
    QFETCH(bool, rightAnswer);
    const Api variant = Api::Load(path);
    QVERIFY(variant.brom != nullptr && variant.bromEnd != nullptr);
    QCOMPARE(variant.featureConfig != nullptr, featureConfig);
    QCOMPARE(variant.da != nullptr, daChallenge);
    QCOMPARE(variant.daEnd != nullptr, daChallengeEnd);
    const QByteArray data(32, '\x3c');
    uint8_t* response = nullptr;
    uint32_t length = 0;
    QCOMPARE(variant.brom(nullptr, Bytes(data), 32, &response, &length), 0);
    QCOMPARE(length, 32u);
    QCOMPARE(Response(response, length) == Hmac(sladigest::DefaultKey(), data), rightAnswer);
    variant.bromEnd(nullptr, nullptr);
    if (daChallenge) {
        QCOMPARE(variant.da(nullptr, Bytes(data), 32, &response, &length), 0);
        QCOMPARE(Response(response, length) == Hmac(sladigest::DefaultKey(), data), rightAnswer);
        if (daChallengeEnd)
            variant.daEnd(nullptr, nullptr);
    }
}

QTEST_GUILESS_MAIN(SlaLibraryTest)
#include "tst_SlaLibrary.moc"
