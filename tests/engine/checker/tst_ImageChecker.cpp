// The image checker against loads written here: what it refuses before hashing, what it finds while hashing,
// with reads and with the hashing helper, and how it calls back to its caller.
#include "LoadFormat.h"
#include "TestFiles.h"
#include "quillcheck_sim.h"
#include "quillon.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Load
{
    QString folder;
    QString scatterPath;
    QString listPath;
    QString Image(const QString& name) const { return folder + QLatin1Char('/') + name; }
};

QByteArray RandomBytes(qint64 size)
{
    QByteArray bytes(int(size), Qt::Uninitialized);
    QRandomGenerator::global()->fillRange(reinterpret_cast<quint32*>(bytes.data()), int(size / 4));
    for (qint64 i = size & ~qint64(3); i < size; ++i)
        bytes[int(i)] = char(QRandomGenerator::global()->bounded(256));
    return bytes;
}

// Random images named in a scatter file, and a checksum list made by the load format's own writer.
Load WriteLoad(const QString& folder, const QList<QPair<QString, qint64>>& images)
{
    Load load;
    QDir(folder).removeRecursively();
    QDir().mkpath(folder);
    load.folder = QFileInfo(folder).absoluteFilePath();
    load.scatterPath = load.Image(QStringLiteral("load_scatter.txt"));
    load.listPath = loadformat::ChecksumListPath(load.scatterPath);
    QVector<loadformat::ScatterEntry> entries;
    for (const auto& image : images) {
        entries.push_back(
            {QStringLiteral("part_") + image.first.section(QLatin1Char('.'), 0, 0), image.first, 0});
        TestFiles::WriteFile(load.Image(image.first), RandomBytes(image.second));
    }
    entries.push_back({QStringLiteral("nvram"), QStringLiteral("NONE"), 0});
    QString error;
    QVector<loadformat::ChecksumListEntry> written;
    if (!loadformat::WriteScatter(load.scatterPath, entries, error) ||
        !loadformat::WriteChecksumListForScatter(load.scatterPath, written, error))
        qWarning("cannot write the load: %s", qPrintable(error));
    return load;
}

QByteArray ListOf(const QByteArray& files)
{
    return "<?xml version=\"1.0\"?>\n<checksum_list><images>" + files + "</images></checksum_list>\n";
}

QByteArray Entry(const QString& name, const QString& checksum)
{
    return QStringLiteral("<file name=\"%1\" checksum=\"%2\"/>").arg(name, checksum).toUtf8();
}

QString ChecksumOf(const QString& path)
{
    QString text;
    QString error;
    loadformat::LoadChecksum::OfFile(path, text, error);
    return text;
}

// Records every callback, and which thread made it; can act on the first progress call.
struct Caller
{
    std::thread::id thread = std::this_thread::get_id();
    QVector<unsigned> percents;
    QVector<quint64> transferred;
    QStringList names;
    int callsOffThread = 0;
    int stopCalls = 0;
    bool stopAnswer = false;
    std::function<void()> atFirstProgress;

    static void Progress(void* user, unsigned int percent, uint64_t bytes, const char* name)
    {
        Caller& caller = *static_cast<Caller*>(user);
        if (std::this_thread::get_id() != caller.thread)
            ++caller.callsOffThread;
        caller.percents << percent;
        caller.transferred << bytes;
        caller.names << QString::fromUtf8(name);
        if (caller.percents.size() == 1 && caller.atFirstProgress)
            caller.atFirstProgress();
    }
    static int Stop(void* user)
    {
        Caller& caller = *static_cast<Caller*>(user);
        if (std::this_thread::get_id() != caller.thread)
            ++caller.callsOffThread;
        ++caller.stopCalls;
        return caller.stopAnswer ? 1 : 0;
    }
    CheckerCallbacks Record() { return CheckerCallbacks{this, &Caller::Stop, &Caller::Progress}; }
};

int Verify(const QString& scatterPath, Caller& caller)
{
    const QByteArray path = scatterPath.toUtf8();
    const CheckerCallbacks callbacks = caller.Record();
    return quillon_images_checker_verify(path.constData(), &callbacks);
}

QString LastError()
{
    return QString::fromUtf8(quillon_images_checker_last_error_msg());
}

using LoadChange = std::function<void(const Load&)>;

struct HashingMode
{
    int first;
    const char* second;
};
const HashingMode kModes[] = {{QUILLCHECK_HASHING_READ, "reads"},
                              {QUILLCHECK_HASHING_HELPER, "helper"},
                              {QUILLCHECK_HASHING_HELPER_MAP, "helper mapping"}};

} // namespace

Q_DECLARE_METATYPE(LoadChange)

class ImageCheckerTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanup();

    void intactLoadVerifiesWithProgressOnTheCallingThread_data();
    void intactLoadVerifiesWithProgressOnTheCallingThread();
    void flippedByteFailsTheCheck_data();
    void flippedByteFailsTheCheck();
    void loadRefusedBeforeHashing_data();
    void loadRefusedBeforeHashing();
    void scatterPathMustBeGivenAndAbsolute_data();
    void scatterPathMustBeGivenAndAbsolute();
    void imageChangedAfterItWasMeasuredFailsWithoutEndingTheProcess_data();
    void imageChangedAfterItWasMeasuredFailsWithoutEndingTheProcess();
    void unreadableImageFails();
    void stopQueryEndsTheCheckBeforeItHashes_data();
    void stopQueryEndsTheCheckBeforeItHashes();

private:
    static void AddHashingColumns();
    QString Folder(const QString& name) const { return dir.filePath(name); }
    QTemporaryDir dir;
};

void ImageCheckerTest::initTestCase()
{
    QVERIFY(dir.isValid());
}

void ImageCheckerTest::cleanup()
{
    quillcheck_sim_configure(QUILLCHECK_HASHING_AUTO, 0);
}

void ImageCheckerTest::AddHashingColumns()
{
    QTest::addColumn<int>("hashing");
    QTest::addColumn<unsigned>("threads");
}

void ImageCheckerTest::intactLoadVerifiesWithProgressOnTheCallingThread_data()
{
    AddHashingColumns();
    for (const HashingMode& mode : kModes) {
        for (unsigned threads : {1u, 2u, 5u})
            QTest::addRow("%s, %u threads", mode.second, threads) << int(mode.first) << threads;
    }
}

void ImageCheckerTest::intactLoadVerifiesWithProgressOnTheCallingThread()
{
    QFETCH(int, hashing);
    QFETCH(unsigned, threads);
    QCOMPARE(quillcheck_sim_configure(hashing, threads), int(QUILLON_OK));
    // An empty image, one byte, and sizes on both sides of the blocks the hashing works in.
    const QList<QPair<QString, qint64>> images = {{QStringLiteral("empty.img"), 0},
                                                  {QStringLiteral("one.bin"), 1},
                                                  {QStringLiteral("boot.img"), 256 * 1024 + 7},
                                                  {QStringLiteral("system.img"), 17 * 1024 * 1024 + 5},
                                                  {QStringLiteral("vendor.img"), 8 * 1024 * 1024}};
    const Load load = WriteLoad(Folder(QStringLiteral("intact")), images);
    qint64 total = 0;
    for (const auto& image : images)
        total += image.second;

    Caller caller;
    QCOMPARE(Verify(load.scatterPath, caller), int(QUILLON_OK));
    QCOMPARE(LastError(), QString());
    QCOMPARE(caller.callsOffThread, 0);
    QVERIFY(caller.stopCalls > 0);
    QCOMPARE(caller.percents.count(100u), 1);
    QCOMPARE(caller.percents.last(), 100u);
    QCOMPARE(caller.transferred.last(), quint64(total));
    for (int i = 1; i < caller.percents.size(); ++i) {
        QVERIFY2(caller.percents[i] >= caller.percents[i - 1], "progress went back");
        QVERIFY2(caller.transferred[i] >= caller.transferred[i - 1], "bytes done went back");
        QVERIFY(caller.transferred[i] <= quint64(total));
    }
    for (const QString& name : caller.names)
        QVERIFY2(std::any_of(images.begin(), images.end(),
                             [&name](const auto& image) { return image.first == name; }),
                 qPrintable(name));
}

void ImageCheckerTest::flippedByteFailsTheCheck_data()
{
    AddHashingColumns();
    QTest::addColumn<QString>("image");
    QTest::addColumn<qint64>("offset");
    for (const HashingMode& mode : kModes) {
        QTest::addRow("%s, first byte of the largest image", mode.second)
            << int(mode.first) << 2u << QStringLiteral("system.img") << qint64(0);
        QTest::addRow("%s, middle of the largest image", mode.second)
            << int(mode.first) << 2u << QStringLiteral("system.img") << qint64(5 * 1024 * 1024 + 3);
        QTest::addRow("%s, last byte of the last image", mode.second)
            << int(mode.first) << 2u << QStringLiteral("logo.bin") << qint64(-1);
        QTest::addRow("%s, one thread, last byte of the last image", mode.second)
            << int(mode.first) << 1u << QStringLiteral("logo.bin") << qint64(-1);
    }
}

void ImageCheckerTest::flippedByteFailsTheCheck()
{
    QFETCH(int, hashing);
    QFETCH(unsigned, threads);
    QFETCH(QString, image);
    QFETCH(qint64, offset);
    QCOMPARE(quillcheck_sim_configure(hashing, threads), int(QUILLON_OK));
    const Load load =
        WriteLoad(Folder(QStringLiteral("flipped")), {{QStringLiteral("preloader.bin"), 70000},
                                                      {QStringLiteral("system.img"), 9 * 1024 * 1024},
                                                      {QStringLiteral("logo.bin"), 3 * 4096 + 1}});
    QFile file(load.Image(image));
    QVERIFY(file.open(QIODevice::ReadWrite));
    const qint64 at = offset < 0 ? file.size() + offset : offset;
    QVERIFY(file.seek(at));
    char byte = 0;
    QVERIFY(file.getChar(&byte));
    QVERIFY(file.seek(at));
    QVERIFY(file.putChar(char(byte ^ 0x01)));
    file.close();

    Caller caller;
    QCOMPARE(Verify(load.scatterPath, caller), int(QUILLON_E_CHECKSUM_MISMATCH));
    QVERIFY2(LastError().contains(QStringLiteral("\"%1\"").arg(image)), qPrintable(LastError()));
    QVERIFY2(LastError().contains(ChecksumOf(load.Image(image))), qPrintable(LastError()));
    QVERIFY(!caller.percents.contains(100u));
    QCOMPARE(caller.callsOffThread, 0);
}

void ImageCheckerTest::loadRefusedBeforeHashing_data()
{
    QTest::addColumn<LoadChange>("change");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("reason");

    const auto replaceList = [](const QByteArray& content) {
        return [content](const Load& load) { TestFiles::WriteFile(load.listPath, content); };
    };
    const auto listWithExtra = [](const QByteArray& extra) {
        return [extra](const Load& load) {
            const QString boot = ChecksumOf(load.Image(QStringLiteral("boot.img")));
            const QString system = ChecksumOf(load.Image(QStringLiteral("system.img")));
            TestFiles::WriteFile(load.listPath, ListOf(Entry(QStringLiteral("boot.img"), boot) +
                                                       Entry(QStringLiteral("system.img"), system) + extra));
        };
    };
    const QString anyChecksum = QStringLiteral("0123456789abcdef");

    QTest::newRow("no checksum list") << LoadChange([](const Load& load) { QFile::remove(load.listPath); })
                                      << int(QUILLON_E_CHECKSUM_LIST_MISSING) << QStringLiteral("not found");
    QTest::newRow("empty list file") << LoadChange(replaceList(QByteArray()))
                                     << int(QUILLON_E_CHECKSUM_LIST_INVALID)
                                     << QStringLiteral("Checksum list refused");
    QTest::newRow("list without images")
        << LoadChange(replaceList(ListOf(QByteArray()))) << int(QUILLON_E_CHECKSUM_LIST_INVALID)
        << QStringLiteral("names no images");
    QTest::newRow("list that is not XML")
        << LoadChange(replaceList("boot.img 0123456789abcdef\n")) << int(QUILLON_E_CHECKSUM_LIST_INVALID)
        << QStringLiteral("Checksum list refused");
    QTest::newRow("list with a DOCTYPE")
        << LoadChange(replaceList("<?xml version=\"1.0\"?><!DOCTYPE a [<!ENTITY e \"x\">]><checksum_list/>"))
        << int(QUILLON_E_CHECKSUM_LIST_INVALID) << QStringLiteral("Checksum list refused");
    QTest::newRow("image listed twice")
        << LoadChange(listWithExtra(Entry(QStringLiteral("boot.img"), anyChecksum)))
        << int(QUILLON_E_CHECKSUM_LIST_INVALID) << QStringLiteral("already listed");
    QTest::newRow("listed name leaving the folder")
        << LoadChange(listWithExtra(Entry(QStringLiteral("../outside.img"), anyChecksum)))
        << int(QUILLON_E_CHECKSUM_LIST_INVALID) << QStringLiteral("../outside.img");
    QTest::newRow("listed absolute name")
        << LoadChange(listWithExtra(Entry(QStringLiteral("/etc/hostname"), anyChecksum)))
        << int(QUILLON_E_CHECKSUM_LIST_INVALID) << QStringLiteral("/etc/hostname");
    QTest::newRow("scatter name leaving the folder") << LoadChange([](const Load& load) {
        TestFiles::WriteFile(load.scatterPath, "boot boot.img\nsystem ../system.img\n");
    }) << int(QUILLON_E_SCATTER_INVALID) << QStringLiteral("../system.img");
    QTest::newRow("scatter file missing")
        << LoadChange([](const Load& load) { QFile::remove(load.scatterPath); })
        << int(QUILLON_E_SCATTER_INVALID) << QStringLiteral("load_scatter.txt");
    QTest::newRow("downloaded image the list does not name") << LoadChange([](const Load& load) {
        const QString boot = ChecksumOf(load.Image(QStringLiteral("boot.img")));
        TestFiles::WriteFile(load.listPath, ListOf(Entry(QStringLiteral("boot.img"), boot)));
    }) << int(QUILLON_E_IMAGE_UNLISTED) << QStringLiteral("\"system.img\"");
    QTest::newRow("listed image missing")
        << LoadChange([](const Load& load) { QFile::remove(load.Image(QStringLiteral("system.img"))); })
        << int(QUILLON_E_IMAGE_MISSING) << QStringLiteral("system.img");
    QTest::newRow("listed image only listed, and missing")
        << LoadChange(listWithExtra(Entry(QStringLiteral("extra.img"), anyChecksum)))
        << int(QUILLON_E_IMAGE_MISSING) << QStringLiteral("extra.img");
    QTest::newRow("image is a folder") << LoadChange([](const Load& load) {
        QFile::remove(load.Image(QStringLiteral("system.img")));
        QDir().mkpath(load.Image(QStringLiteral("system.img")));
    }) << int(QUILLON_E_IMAGE_UNREADABLE)
                                       << QStringLiteral("folder");
    QTest::newRow("image is a named pipe") << LoadChange([](const Load& load) {
        QFile::remove(load.Image(QStringLiteral("system.img")));
        mkfifo(QFile::encodeName(load.Image(QStringLiteral("system.img"))).constData(), 0600);
    }) << int(QUILLON_E_IMAGE_UNREADABLE) << QStringLiteral("not a regular file");
}

void ImageCheckerTest::loadRefusedBeforeHashing()
{
    QFETCH(LoadChange, change);
    QFETCH(int, code);
    QFETCH(QString, reason);
    const Load load = WriteLoad(Folder(QStringLiteral("refused")),
                                {{QStringLiteral("boot.img"), 5000}, {QStringLiteral("system.img"), 70000}});
    change(load);
    for (const HashingMode& mode : kModes) {
        const int hashing = mode.first;
        QCOMPARE(quillcheck_sim_configure(hashing, 2), int(QUILLON_OK));
        Caller caller;
        QCOMPARE(Verify(load.scatterPath, caller), code);
        QVERIFY2(LastError().contains(reason), qPrintable(LastError()));
        QVERIFY2(caller.percents.isEmpty(), "progress before the load was accepted");
    }
}

void ImageCheckerTest::scatterPathMustBeGivenAndAbsolute_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<bool>("null");
    QTest::newRow("null") << QByteArray() << true;
    QTest::newRow("empty") << QByteArray("") << false;
    // The relative path names a complete load below the working folder, so only its form is refused.
    QTest::newRow("relative to the working folder") << QByteArray("relative/load_scatter.txt") << false;
    QTest::newRow("invalid UTF-8") << QByteArray("/tmp/\xff\xfe/load_scatter.txt") << false;
}

void ImageCheckerTest::scatterPathMustBeGivenAndAbsolute()
{
    QFETCH(QByteArray, path);
    QFETCH(bool, null);
    const Load load =
        WriteLoad(QDir::current().filePath(QStringLiteral("relative")), {{QStringLiteral("boot.img"), 100}});
    Caller caller;
    const CheckerCallbacks callbacks = caller.Record();
    QCOMPARE(quillon_images_checker_verify(null ? nullptr : path.constData(), &callbacks),
             int(QUILLON_E_INVALID_ARGUMENT));
    QVERIFY(!LastError().isEmpty());
    QVERIFY(caller.percents.isEmpty());
    // The same load by its absolute path verifies, and leaves no error behind.
    QCOMPARE(Verify(load.scatterPath, caller), int(QUILLON_OK));
    QCOMPARE(LastError(), QString());
}

void ImageCheckerTest::imageChangedAfterItWasMeasuredFailsWithoutEndingTheProcess_data()
{
    AddHashingColumns();
    QTest::addColumn<LoadChange>("change");
    QTest::addColumn<int>("code");

    const auto resize = [](qint64 by) {
        return [by](const Load& load) {
            QFile file(load.Image(QStringLiteral("system.img")));
            file.resize(file.size() + by);
        };
    };
    const LoadChange cutToHalf = [](const Load& load) {
        QFile file(load.Image(QStringLiteral("system.img")));
        file.resize(file.size() / 2);
    };
    const LoadChange cutAfterFirstChunk = [](const Load& load) {
        QFile(load.Image(QStringLiteral("system.img"))).resize(8 * 1024 * 1024 + 4096);
    };
    const LoadChange removed = [](const Load& load) {
        QFile::remove(load.Image(QStringLiteral("system.img")));
    };
    for (const HashingMode& mode : kModes) {
        for (unsigned threads : {1u, 2u}) {
            // The helper maps a file's first chunk and may read its second; a cut by whole pages leaves
            // mapped pages past the end, one byte less stays within the last page.
            QTest::addRow("%s, %u threads, cut to half", mode.second, threads)
                << int(mode.first) << threads << cutToHalf << int(QUILLON_E_IMAGE_CHANGED);
            QTest::addRow("%s, %u threads, cut after its first 8 MiB", mode.second, threads)
                << int(mode.first) << threads << cutAfterFirstChunk << int(QUILLON_E_IMAGE_CHANGED);
            QTest::addRow("%s, %u threads, one byte shorter", mode.second, threads)
                << int(mode.first) << threads << LoadChange(resize(-1)) << int(QUILLON_E_IMAGE_CHANGED);
            QTest::addRow("%s, %u threads, one byte longer", mode.second, threads)
                << int(mode.first) << threads << LoadChange(resize(1)) << int(QUILLON_E_IMAGE_CHANGED);
            QTest::addRow("%s, %u threads, removed", mode.second, threads)
                << int(mode.first) << threads << removed << int(QUILLON_E_IMAGE_MISSING);
        }
    }
}

// The first progress call comes after every image was measured and before any is hashed, so a change made
// there is a change while the check runs, at a moment the test controls.
void ImageCheckerTest::imageChangedAfterItWasMeasuredFailsWithoutEndingTheProcess()
{
    QFETCH(int, hashing);
    QFETCH(unsigned, threads);
    QFETCH(LoadChange, change);
    QFETCH(int, code);
    QCOMPARE(quillcheck_sim_configure(hashing, threads), int(QUILLON_OK));
    const Load load =
        WriteLoad(Folder(QStringLiteral("changed")), {{QStringLiteral("boot.img"), 300000},
                                                      {QStringLiteral("system.img"), 9 * 1024 * 1024 + 123}});
    Caller caller;
    caller.atFirstProgress = [&change, &load] { change(load); };
    QCOMPARE(Verify(load.scatterPath, caller), code);
    QVERIFY2(LastError().contains(QStringLiteral("system.img")), qPrintable(LastError()));
    QVERIFY(!caller.percents.contains(100u));
}

void ImageCheckerTest::unreadableImageFails()
{
    if (geteuid() == 0)
        QSKIP("file permissions do not stop the superuser from reading");
    const Load load = WriteLoad(Folder(QStringLiteral("unreadable")), {{QStringLiteral("boot.img"), 5000}});
    QVERIFY(QFile::setPermissions(load.Image(QStringLiteral("boot.img")), QFileDevice::WriteOwner));
    Caller caller;
    QCOMPARE(Verify(load.scatterPath, caller), int(QUILLON_E_IMAGE_UNREADABLE));
    QVERIFY2(LastError().contains(QStringLiteral("boot.img")), qPrintable(LastError()));
}

void ImageCheckerTest::stopQueryEndsTheCheckBeforeItHashes_data()
{
    AddHashingColumns();
    for (const HashingMode& mode : kModes)
        QTest::newRow(mode.second) << mode.first << 2u;
}

void ImageCheckerTest::stopQueryEndsTheCheckBeforeItHashes()
{
    QFETCH(int, hashing);
    QFETCH(unsigned, threads);
    QCOMPARE(quillcheck_sim_configure(hashing, threads), int(QUILLON_OK));
    const Load load =
        WriteLoad(Folder(QStringLiteral("stopped")), {{QStringLiteral("system.img"), 4 * 1024 * 1024}});
    Caller caller;
    caller.stopAnswer = true;
    QCOMPARE(Verify(load.scatterPath, caller), int(QUILLON_E_CANCELLED));
    QCOMPARE(caller.stopCalls, 1);
    QCOMPARE(caller.callsOffThread, 0);
    QVERIFY(!caller.percents.contains(100u));
    QVERIFY(caller.transferred.isEmpty() || caller.transferred.last() == 0);
}

QTEST_GUILESS_MAIN(ImageCheckerTest)
#include "tst_ImageChecker.moc"
