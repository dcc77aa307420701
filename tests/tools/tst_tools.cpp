#include "LoadFormat.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

using namespace loadformat;

namespace {

struct Run
{
    int exitCode = -1;
    QProcess::ExitStatus exitStatus = QProcess::CrashExit;
    QString out;
    QString err;
};

} // namespace

class ToolsTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void generatedLoadVerifies_data();
    void generatedLoadVerifies();
    void seedDecidesTheImages();
    void largestImageTakesItsShare_data();
    void largestImageTakesItsShare();
    void checksumListRegeneratesWhatTheLoadHolds();
    void refusalsExitNonZeroNamingTheFile_data();
    void refusalsExitNonZeroNamingTheFile();

private:
    static Run Execute(const QString& program, const QStringList& arguments);
    static QString Tool(const QString& name);
    QString Generate(const QString& name, const QString& size, int images, int seed,
                     const QStringList& extra = {});
    QString WriteFile(const QString& name, const QByteArray& content);
    QTemporaryDir dir;
};

QString ToolsTest::Tool(const QString& name)
{
    return QDir(QCoreApplication::applicationDirPath()).filePath(name);
}

Run ToolsTest::Execute(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(Tool(program), arguments);
    Run run;
    if (!process.waitForFinished(300000))
        return run;
    run.exitCode = process.exitCode();
    run.exitStatus = process.exitStatus();
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

QString ToolsTest::Generate(const QString& name, const QString& size, int images, int seed,
                            const QStringList& extra)
{
    const QString folder = dir.filePath(name);
    const Run run = Execute(QStringLiteral("pxl_sample_load"),
                            QStringList{QStringLiteral("--out"), folder, QStringLiteral("--size"), size,
                                        QStringLiteral("--images"), QString::number(images),
                                        QStringLiteral("--seed"), QString::number(seed)} +
                                extra);
    if (run.exitStatus != QProcess::NormalExit || run.exitCode != 0) {
        qWarning("pxl_sample_load failed: %s", qPrintable(run.err));
        return QString();
    }
    return folder;
}

QString ToolsTest::WriteFile(const QString& name, const QByteArray& content)
{
    const QString path = dir.filePath(name);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        return QString();
    return path;
}

void ToolsTest::initTestCase()
{
    QVERIFY(dir.isValid());
    QVERIFY2(QFileInfo(Tool(QStringLiteral("pxl_sample_load"))).isExecutable(), "pxl_sample_load not built");
    QVERIFY2(QFileInfo(Tool(QStringLiteral("pxl_checksum_list"))).isExecutable(),
             "pxl_checksum_list not built");
}

void ToolsTest::generatedLoadVerifies_data()
{
    QTest::addColumn<QString>("size");
    QTest::addColumn<qint64>("bytes");
    QTest::addColumn<int>("images");
    QTest::newRow("one image") << QStringLiteral("1") << qint64(1) << 1;
    QTest::newRow("smallest total for six images") << QStringLiteral("21") << qint64(21) << 6;
    QTest::newRow("kilobytes") << QStringLiteral("300K") << qint64(300 * 1024) << 6;
    QTest::newRow("megabytes across write blocks") << QStringLiteral("9M") << qint64(9 * 1024 * 1024) << 3;
    QTest::newRow("more images than known names") << QStringLiteral("64k") << qint64(64 * 1024) << 40;
}

void ToolsTest::generatedLoadVerifies()
{
    QFETCH(QString, size);
    QFETCH(qint64, bytes);
    QFETCH(int, images);
    const QString folder = Generate(QStringLiteral("load_%1_%2").arg(size).arg(images), size, images, 42);
    QVERIFY(!folder.isEmpty());

    XmlNode flash;
    QString error;
    QVERIFY2(ReadXmlFile(folder + QStringLiteral("/flash.xml"), flash, error), qPrintable(error));
    QVERIFY(flash.Child(QStringLiteral("scatter")) != nullptr);
    QVERIFY(flash.Child(QStringLiteral("contact")) != nullptr);
    QVERIFY(!flash.Child(QStringLiteral("contact"))->text.trimmed().isEmpty());
    const QString scatterPath =
        folder + QLatin1Char('/') + flash.Child(QStringLiteral("scatter"))->text.trimmed();
    QCOMPARE(QFileInfo(scatterPath).fileName(), QStringLiteral("load_scatter.txt"));

    XmlNode schema;
    QVERIFY2(ReadXmlFile(folder + QStringLiteral("/flash.xsd"), schema, error), qPrintable(error));
    const QString xmllint = QStandardPaths::findExecutable(QStringLiteral("xmllint"));
    if (!xmllint.isEmpty()) {
        QProcess lint;
        lint.start(xmllint, {QStringLiteral("--noout"), QStringLiteral("--schema"),
                             folder + QStringLiteral("/flash.xsd"), folder + QStringLiteral("/flash.xml")});
        QVERIFY(lint.waitForFinished(60000));
        QVERIFY2(lint.exitCode() == 0, lint.readAllStandardError().constData());
    }

    QFile scatterFile(scatterPath);
    QVERIFY(scatterFile.open(QIODevice::ReadOnly));
    const QByteArray scatterText = scatterFile.readAll();
    QVERIFY(scatterText.startsWith("#"));
    QVERIFY(scatterText.contains(" NONE\n"));

    Scatter scatter;
    QVERIFY2(ReadScatter(scatterPath, scatter, error), qPrintable(error));
    QCOMPARE(scatter.images.size(), images);
    QVector<ChecksumListEntry> list;
    QVERIFY2(ReadChecksumList(ChecksumListPath(scatterPath), list, error), qPrintable(error));
    QCOMPARE(list.size(), images);

    qint64 total = 0;
    QSet<qint64> sizes;
    QSet<QString> checksums;
    for (int i = 0; i < images; ++i) {
        const ScatterEntry& entry = scatter.images.at(i);
        const QFileInfo info(scatter.ImagePath(entry));
        QVERIFY2(info.isFile(), qPrintable(info.filePath()));
        total += info.size();
        sizes.insert(info.size());
        QString checksum;
        QVERIFY2(LoadChecksum::OfFile(info.filePath(), checksum, error), qPrintable(error));
        QCOMPARE(list.at(i).name, entry.image);
        QCOMPARE(list.at(i).checksum, checksum);
        checksums.insert(checksum);
    }
    QCOMPARE(total, bytes);
    QCOMPARE(sizes.size(), images);     // sizes differ
    QCOMPARE(checksums.size(), images); // no two images alike
}

void ToolsTest::seedDecidesTheImages()
{
    const QString first = Generate(QStringLiteral("seed_a"), QStringLiteral("200K"), 4, 7);
    const QString again = Generate(QStringLiteral("seed_b"), QStringLiteral("200K"), 4, 7);
    const QString other = Generate(QStringLiteral("seed_c"), QStringLiteral("200K"), 4, 8);
    QVERIFY(!first.isEmpty() && !again.isEmpty() && !other.isEmpty());
    QVector<ChecksumListEntry> a, b, c;
    QString error;
    QVERIFY2(ReadChecksumList(first + QStringLiteral("/scatter_checksum.xml"), a, error), qPrintable(error));
    QVERIFY2(ReadChecksumList(again + QStringLiteral("/scatter_checksum.xml"), b, error), qPrintable(error));
    QVERIFY2(ReadChecksumList(other + QStringLiteral("/scatter_checksum.xml"), c, error), qPrintable(error));
    QCOMPARE(a.size(), 4);
    for (int i = 0; i < 4; ++i) {
        QCOMPARE(b.at(i).checksum, a.at(i).checksum);
        QVERIFY(c.at(i).checksum != a.at(i).checksum);
    }
}

void ToolsTest::largestImageTakesItsShare_data()
{
    QTest::addColumn<int>("percent");
    QTest::addColumn<int>("images");
    QTest::addColumn<qint64>("bytes");
    QTest::addColumn<QString>("largest");
    QTest::newRow("ninety percent of six images")
        << 90 << 6 << qint64(1024 * 1024) << QStringLiteral("system.img");
    QTest::newRow("just over half of two images")
        << 51 << 2 << qint64(100 * 1024) << QStringLiteral("lk.img");
    QTest::newRow("total not a multiple of a hundred")
        << 99 << 3 << qint64(12345) << QStringLiteral("boot.img");
}

void ToolsTest::largestImageTakesItsShare()
{
    QFETCH(int, percent);
    QFETCH(int, images);
    QFETCH(qint64, bytes);
    QFETCH(QString, largest);
    const QString folder =
        Generate(QStringLiteral("largest_%1_%2").arg(percent).arg(images), QString::number(bytes), images, 9,
                 {QStringLiteral("--largest"), QString::number(percent)});
    QVERIFY(!folder.isEmpty());
    QVector<ChecksumListEntry> list;
    QString error;
    QVERIFY2(ReadChecksumList(folder + QStringLiteral("/scatter_checksum.xml"), list, error),
             qPrintable(error));
    QCOMPARE(list.size(), images);
    qint64 total = 0;
    QSet<qint64> sizes;
    for (const ChecksumListEntry& entry : list) {
        const qint64 size = QFileInfo(folder + QLatin1Char('/') + entry.name).size();
        total += size;
        sizes.insert(size);
        if (entry.name == largest)
            QCOMPARE(size, bytes * percent / 100);
        else
            QVERIFY2(size > 0 && size < bytes * (100 - percent) / 100 + 1, qPrintable(entry.name));
    }
    QCOMPARE(total, bytes);
    QCOMPARE(sizes.size(), images);
}

void ToolsTest::checksumListRegeneratesWhatTheLoadHolds()
{
    const QString folder = Generate(QStringLiteral("regen"), QStringLiteral("1M"), 5, 3);
    QVERIFY(!folder.isEmpty());
    const QString scatterPath = folder + QStringLiteral("/load_scatter.txt");
    const QString listPath = ChecksumListPath(scatterPath);
    QVector<ChecksumListEntry> original;
    QString error;
    QVERIFY2(ReadChecksumList(listPath, original, error), qPrintable(error));

    // One byte of one image changes; the regenerated list must differ there and nowhere else.
    QFile image(folder + QLatin1Char('/') + original.at(2).name);
    QVERIFY(image.open(QIODevice::ReadWrite));
    QVERIFY(image.seek(image.size() / 2));
    char byte = 0;
    QVERIFY(image.getChar(&byte));
    QVERIFY(image.seek(image.size() / 2));
    QVERIFY(image.putChar(char(byte ^ 0x01)));
    image.close();
    QVERIFY(QFile::remove(listPath));

    const Run run = Execute(QStringLiteral("pxl_checksum_list"), {scatterPath});
    QCOMPARE(run.exitStatus, QProcess::NormalExit);
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    QVERIFY2(run.out.contains(listPath), qPrintable(run.out));
    QVector<ChecksumListEntry> regenerated;
    QVERIFY2(ReadChecksumList(listPath, regenerated, error), qPrintable(error));
    QCOMPARE(regenerated.size(), original.size());
    for (int i = 0; i < original.size(); ++i) {
        QCOMPARE(regenerated.at(i).name, original.at(i).name);
        QCOMPARE(regenerated.at(i).checksum == original.at(i).checksum, i != 2);
    }
}

void ToolsTest::refusalsExitNonZeroNamingTheFile_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("scatterName");
    QTest::addColumn<QByteArray>("scatterContent");
    QTest::addColumn<QString>("expected");

    const QString sample = QStringLiteral("pxl_sample_load");
    const QString lister = QStringLiteral("pxl_checksum_list");
    const QString out = QStringLiteral("--out");
    const QString size = QStringLiteral("--size");
    QTest::newRow("sample: no arguments")
        << sample << QStringList() << QString() << QByteArray() << "--out is required";
    QTest::newRow("sample: no size") << sample << QStringList{out, QStringLiteral("x")} << QString()
                                     << QByteArray() << "--size is required";
    QTest::newRow("sample: bad size suffix")
        << sample << QStringList{out, QStringLiteral("x"), size, QStringLiteral("3T")} << QString()
        << QByteArray() << "--size \"3T\"";
    QTest::newRow("sample: size overflows")
        << sample << QStringList{out, QStringLiteral("x"), size, QStringLiteral("99999999999999999G")}
        << QString() << QByteArray() << "is not a positive byte count";
    QTest::newRow("sample: too small for the images")
        << sample << QStringList{out, QStringLiteral("x"), size, QStringLiteral("20")} << QString()
        << QByteArray() << "too small for 6 images";
    QTest::newRow("sample: largest share of half") << sample << QStringList{out,
                                                                            QStringLiteral("x"),
                                                                            size,
                                                                            QStringLiteral("1K"),
                                                                            QStringLiteral("--largest"),
                                                                            QStringLiteral("50")}
                                                   << QString() << QByteArray() << "--largest \"50\"";
    QTest::newRow("sample: largest share of all") << sample << QStringList{out,
                                                                           QStringLiteral("x"),
                                                                           size,
                                                                           QStringLiteral("1K"),
                                                                           QStringLiteral("--largest"),
                                                                           QStringLiteral("100")}
                                                  << QString() << QByteArray() << "--largest \"100\"";
    QTest::newRow("sample: largest with one image") << sample
                                                    << QStringList{out,
                                                                   QStringLiteral("x"),
                                                                   size,
                                                                   QStringLiteral("1K"),
                                                                   QStringLiteral("--images"),
                                                                   QStringLiteral("1"),
                                                                   QStringLiteral("--largest"),
                                                                   QStringLiteral("90")}
                                                    << QString() << QByteArray() << "at least two images";
    QTest::newRow("sample: too small beside the largest image")
        << sample << QStringList{out,
                                 QStringLiteral("x"),
                                 size,
                                 QStringLiteral("100"),
                                 QStringLiteral("--largest"),
                                 QStringLiteral("90")}
        << QString() << QByteArray() << "too small for 6 images";
    QTest::newRow("sample: value missing") << sample << QStringList{out, QStringLiteral("x"), size}
                                           << QString() << QByteArray() << "--size needs a value";
    // A folder below a plain file cannot be created, whoever runs the test.
    QTest::newRow("sample: folder cannot be made")
        << sample << QStringList{out, QStringLiteral("@/blocker/load"), size, QStringLiteral("1K")}
        << QStringLiteral("blocker") << QByteArray("plain file") << "blocker/load";
    QTest::newRow("list: no arguments")
        << lister << QStringList() << QString() << QByteArray() << "usage: pxl_checksum_list";
    QTest::newRow("list: missing scatter file")
        << lister << QStringList{QStringLiteral("@/absent_scatter.txt")} << QString() << QByteArray()
        << "absent_scatter.txt";
    QTest::newRow("list: two images of one name")
        << lister << QStringList{QStringLiteral("@/dup/load_scatter.txt")}
        << QStringLiteral("dup/load_scatter.txt") << QByteArray("# load\nboot boot.img\nrecovery boot.img\n")
        << "load_scatter.txt:3: image \"boot.img\" is already listed";
    QTest::newRow("list: missing image")
        << lister << QStringList{QStringLiteral("@/missing/load_scatter.txt")}
        << QStringLiteral("missing/load_scatter.txt") << QByteArray("\nboot boot.img\n")
        << "load_scatter.txt:2: image \"boot.img\"";
    QTest::newRow("list: malformed line")
        << lister << QStringList{QStringLiteral("@/malformed/load_scatter.txt")}
        << QStringLiteral("malformed/load_scatter.txt") << QByteArray("boot boot.img trailing\n")
        << "load_scatter.txt:1: expected";
}

void ToolsTest::refusalsExitNonZeroNamingTheFile()
{
    QFETCH(QString, program);
    QFETCH(QStringList, arguments);
    QFETCH(QString, scatterName);
    QFETCH(QByteArray, scatterContent);
    QFETCH(QString, expected);
    if (!scatterName.isEmpty())
        QVERIFY(!WriteFile(scatterName, scatterContent).isEmpty());
    for (QString& argument : arguments)
        argument.replace(QStringLiteral("@"), dir.path());

    const Run run = Execute(program, arguments);
    QCOMPARE(run.exitStatus, QProcess::NormalExit);
    QVERIFY2(run.exitCode != 0, qPrintable(run.out));
    QVERIFY2(run.err.contains(expected), qPrintable(run.err));
    if (!scatterName.isEmpty() && program == QLatin1String("pxl_checksum_list"))
        QVERIFY(!QFile::exists(ChecksumListPath(dir.filePath(scatterName))));
}

QTEST_GUILESS_MAIN(ToolsTest)
#include "tst_tools.moc"
