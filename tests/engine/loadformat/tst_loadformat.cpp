#include "LoadFormat.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

using namespace loadformat;

class LoadFormatTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();

    void checksumTextMatchesKnownVectors_data();
    void checksumTextMatchesKnownVectors();
    void checksumTextIsSixteenLowercaseDigits();
    void fileChecksumMatchesXxhsum_data();
    void fileChecksumMatchesXxhsum();
    void unreadableFileIsNamedInTheError();

    void scatterReadsCommentsNoneAndBlankLines();
    void scatterRefusesBadLineWithItsNumber_data();
    void scatterRefusesBadLineWithItsNumber();
    void errorsQuotePathsWithPercentSignsUnchanged();
    void scatterWrittenReadsBack();
    void scatterWriteRefusesWhatCannotReadBack();

    void checksumListReadsBackWhatWasWritten();
    void checksumListRefusesHostileOrMalformedXml_data();
    void checksumListRefusesHostileOrMalformedXml();
    void checksumListWriteRefusesDuplicates();

    void xmlTreeKeepsAttributesTextAndChildren();
    void xmlTreeAcceptsSixtyFourLevelsOnly();
    void xmlErrorsCarryLineAndColumn();
    void xmlTokenGuardCountsBytesAfterTheLastToken_data();
    void xmlTokenGuardCountsBytesAfterTheLastToken();

private:
    QString WriteFile(const QString& name, const QByteArray& content);
    QTemporaryDir dir;
};

void LoadFormatTest::initTestCase()
{
    QVERIFY(dir.isValid());
}

QString LoadFormatTest::WriteFile(const QString& name, const QByteArray& content)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        return QString();
    return path;
}

void LoadFormatTest::checksumTextMatchesKnownVectors_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QString>("expected");
    QTest::newRow("empty input") << QByteArray() << QStringLiteral("2d06800538d394c2");
    QTest::newRow("abc") << QByteArray("abc") << QStringLiteral("78af5f94892f3950");
}

void LoadFormatTest::checksumTextMatchesKnownVectors()
{
    QFETCH(QByteArray, input);
    QFETCH(QString, expected);
    QCOMPARE(LoadChecksum::OfBytes(input.constData(), size_t(input.size())), expected);

    LoadChecksum streamed;
    for (const char c : input)
        streamed.Update(&c, 1);
    QCOMPARE(streamed.Text(), expected);
    QCOMPARE(ChecksumText(streamed.Value()), expected);

    const QString path = WriteFile(QStringLiteral("vector.bin"), input);
    QVERIFY(!path.isEmpty());
    QString text;
    QString error;
    QVERIFY2(LoadChecksum::OfFile(path, text, error), qPrintable(error));
    QCOMPARE(text, expected);
}

void LoadFormatTest::checksumTextIsSixteenLowercaseDigits()
{
    // The tool compares list and device checksums as plain text, so padding and case must be fixed.
    QCOMPARE(ChecksumText(0x1ULL), QStringLiteral("0000000000000001"));
    QCOMPARE(ChecksumText(0xABCDEF0123456789ULL), QStringLiteral("abcdef0123456789"));
    QCOMPARE(ChecksumText(~0ULL), QStringLiteral("ffffffffffffffff"));
}

void LoadFormatTest::fileChecksumMatchesXxhsum_data()
{
    QTest::addColumn<qint64>("size");
    // Sizes around the hash's own internal block sizes and around the file read block.
    const qint64 sizes[] = {1, 16, 17, 128, 129, 240, 241, 1024, 1025, 65536};
    for (const qint64 size : sizes)
        QTest::addRow("%lld bytes", size) << size;
    QTest::newRow("read block - 1") << kFileHashBlock - 1;
    QTest::newRow("read block") << kFileHashBlock;
    QTest::newRow("read block + 1") << kFileHashBlock + 1;
    QTest::newRow("three read blocks + 3") << 3 * kFileHashBlock + 3;
    QTest::newRow("24 MiB + 5") << qint64(24) * 1024 * 1024 + 5;
}

void LoadFormatTest::fileChecksumMatchesXxhsum()
{
    QFETCH(qint64, size);
    const QString xxhsum = QStandardPaths::findExecutable(QStringLiteral("xxhsum"));
    if (xxhsum.isEmpty())
        QSKIP("xxhsum is not installed");

    QByteArray content(int(size), Qt::Uninitialized);
    QRandomGenerator random{quint32(size)};
    random.fillRange(reinterpret_cast<quint32*>(content.data()), int(size / 4));
    for (qint64 i = size / 4 * 4; i < size; ++i)
        content[int(i)] = char(random.generate());
    const QString path = WriteFile(QStringLiteral("random.bin"), content);
    QVERIFY(!path.isEmpty());

    QProcess process;
    process.start(xxhsum, {QStringLiteral("-H3"), path});
    QVERIFY(process.waitForFinished(120000));
    QCOMPARE(process.exitCode(), 0);
    const QRegularExpressionMatch match = QRegularExpression(QStringLiteral("\\b([0-9a-f]{16})\\b"))
                                              .match(QString::fromUtf8(process.readAllStandardOutput()));
    QVERIFY(match.hasMatch());
    const QString reference = match.captured(1);

    QString text;
    QString error;
    QVERIFY2(LoadChecksum::OfFile(path, text, error), qPrintable(error));
    QCOMPARE(text, reference);
    QCOMPARE(LoadChecksum::OfBytes(content.constData(), size_t(content.size())), reference);

    // Uneven pieces cross every internal boundary in a different place than a single update does.
    LoadChecksum pieces;
    qint64 done = 0;
    for (qint64 piece = 1; done < size; piece = piece * 3 + 1) {
        const qint64 length = qMin(piece, size - done);
        pieces.Update(content.constData() + done, size_t(length));
        done += length;
    }
    QCOMPARE(pieces.Text(), reference);
}

void LoadFormatTest::unreadableFileIsNamedInTheError()
{
    const QString path = dir.filePath(QStringLiteral("absent.img"));
    QString text;
    QString error;
    QVERIFY(!LoadChecksum::OfFile(path, text, error));
    QVERIFY2(error.startsWith(path + QStringLiteral(": ")), qPrintable(error));

    QVERIFY(!LoadChecksum::OfFile(dir.path(), text, error));
    QVERIFY2(error.startsWith(dir.path() + QStringLiteral(": ")), qPrintable(error));
#ifdef Q_OS_UNIX
    // A pipe in place of an image must fail at once rather than wait for a writer.
    const QString pipe = dir.filePath(QStringLiteral("pipe.img"));
    QCOMPARE(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    QVERIFY(!LoadChecksum::OfFile(pipe, text, error));
    QVERIFY2(error.contains(QStringLiteral("not a regular file")), qPrintable(error));
#endif
}

void LoadFormatTest::scatterReadsCommentsNoneAndBlankLines()
{
    const QString path =
        WriteFile(QStringLiteral("good_scatter.txt"), "# header comment\n"
                                                      "\n"
                                                      "preloader preloader.bin   # trailing comment\n"
                                                      "nvram NONE\n"
                                                      "   \t  \n"
                                                      "\tboot\tboot.img\r\n"
                                                      "#system system_old.img\n"
                                                      "system system.img");
    QVERIFY(!path.isEmpty());
    Scatter scatter;
    QString error;
    QVERIFY2(ReadScatter(path, scatter, error), qPrintable(error));
    QCOMPARE(scatter.folder, QFileInfo(path).absolutePath());
    QCOMPARE(scatter.images.size(), 3);
    const QStringList partitions{QStringLiteral("preloader"), QStringLiteral("boot"),
                                 QStringLiteral("system")};
    const QStringList images{QStringLiteral("preloader.bin"), QStringLiteral("boot.img"),
                             QStringLiteral("system.img")};
    const int lines[] = {3, 6, 8};
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(scatter.images.at(i).partition, partitions.at(i));
        QCOMPARE(scatter.images.at(i).image, images.at(i));
        QCOMPARE(scatter.images.at(i).line, lines[i]);
    }
    QCOMPARE(scatter.ImagePath(scatter.images.at(1)), dir.filePath(QStringLiteral("boot.img")));
}

void LoadFormatTest::scatterRefusesBadLineWithItsNumber_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("line");
    QTest::addColumn<QString>("reason");
    const QByteArray head = "# load\npreloader preloader.bin\n";
    QTest::newRow("one field") << head + "boot\n" << 3 << "found 1 field";
    QTest::newRow("three fields") << head + "boot boot.img extra\n" << 3 << "found 3 fields";
    QTest::newRow("folder part") << head + "boot images/boot.img\n" << 3 << "folder part";
    QTest::newRow("backslash folder") << head + "boot images\\boot.img\n" << 3 << "folder part";
    QTest::newRow("absolute") << head + "boot /load/boot.img\n" << 3 << "folder part";
    QTest::newRow("drive letter") << head + "boot C:boot.img\n" << 3 << "not a bare file name";
    QTest::newRow("parent folder") << head + "boot ..\n" << 3 << "not a file name";
    QTest::newRow("two images of one name") << head + "\nlk preloader.bin\n"
                                            << 4 << "already listed on line 2";
    QTest::newRow("names differing in case") << head + "lk PRELOADER.BIN\n"
                                             << 3 << "already listed on line 2";
    QTest::newRow("invalid UTF-8") << head + "boot b\xff.img\n" << 3 << "not valid UTF-8";
    QTest::newRow("NUL byte") << head + QByteArray("boot b\0.img\n", 12) << 3 << "not valid UTF-8";
}

void LoadFormatTest::scatterRefusesBadLineWithItsNumber()
{
    QFETCH(QByteArray, content);
    QFETCH(int, line);
    QFETCH(QString, reason);
    const QString path = WriteFile(QStringLiteral("bad_scatter.txt"), content);
    QVERIFY(!path.isEmpty());
    Scatter scatter;
    QString error;
    QVERIFY(!ReadScatter(path, scatter, error));
    QVERIFY2(error.startsWith(QStringLiteral("%1:%2: ").arg(path).arg(line)), qPrintable(error));
    QVERIFY2(error.contains(reason), qPrintable(error));
}

void LoadFormatTest::errorsQuotePathsWithPercentSignsUnchanged()
{
    // Folder names such as "load%1" must reach the operator as they are, not with numbers put in.
    QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("load%1%2")));
    const QString scatterPath =
        WriteFile(QStringLiteral("load%1%2/scatter%3.txt"), "boot boot.img\nlk boot.img\n");
    QVERIFY(!scatterPath.isEmpty());
    Scatter scatter;
    QString error;
    QVERIFY(!ReadScatter(scatterPath, scatter, error));
    QVERIFY2(
        error.startsWith(scatterPath + QStringLiteral(":2: image \"boot.img\" is already listed on line 1")),
        qPrintable(error));

    const QString listPath = WriteFile(QStringLiteral("load%1%2/list.xml"), "<checksum_list><images><bad");
    QVERIFY(!listPath.isEmpty());
    QVector<ChecksumListEntry> entries;
    QVERIFY(!ReadChecksumList(listPath, entries, error));
    QVERIFY2(error.startsWith(listPath + QStringLiteral(": ")), qPrintable(error));
    QVERIFY2(error.contains(QStringLiteral("(line 1, column")), qPrintable(error));
}

void LoadFormatTest::scatterWrittenReadsBack()
{
    const QString path = dir.filePath(QStringLiteral("written_scatter.txt"));
    const QVector<ScatterEntry> entries{{QStringLiteral("preloader"), QStringLiteral("preloader.bin"), 0},
                                        {QStringLiteral("nvram"), QStringLiteral("NONE"), 0},
                                        {QStringLiteral("system"), QStringLiteral("système.img"), 0}};
    QString error;
    QVERIFY2(WriteScatter(path, entries, QStringLiteral("first\n\nthird"), error), qPrintable(error));
    Scatter scatter;
    QVERIFY2(ReadScatter(path, scatter, error), qPrintable(error));
    QCOMPARE(scatter.images.size(), 2);
    QCOMPARE(scatter.images.at(0).image, QStringLiteral("preloader.bin"));
    QCOMPARE(scatter.images.at(1).partition, QStringLiteral("system"));
    QCOMPARE(scatter.images.at(1).image, QStringLiteral("système.img"));
    QCOMPARE(scatter.images.at(1).line, 6); // three comment lines, then one line per entry
}

void LoadFormatTest::scatterWriteRefusesWhatCannotReadBack()
{
    const QString path = dir.filePath(QStringLiteral("refused_scatter.txt"));
    const QVector<QVector<ScatterEntry>> cases{
        {{QStringLiteral("a"), QStringLiteral("x.img"), 0},
         {QStringLiteral("b"), QStringLiteral("x.img"), 0}},
        {{QStringLiteral("a"), QStringLiteral("sub/x.img"), 0}},
        {{QStringLiteral("a b"), QStringLiteral("x.img"), 0}},
        {{QStringLiteral("a"), QStringLiteral("x #.img"), 0}},
    };
    for (const QVector<ScatterEntry>& entries : cases) {
        QString error;
        QVERIFY(!WriteScatter(path, entries, error));
        QVERIFY2(error.startsWith(path), qPrintable(error));
        QVERIFY(!QFile::exists(path));
    }
}

void LoadFormatTest::checksumListReadsBackWhatWasWritten()
{
    QVector<ChecksumListEntry> entries;
    // Enough entries that tokens straddle the chunks the reader is fed in.
    for (int i = 0; i < 3000; ++i) {
        const QByteArray name = QByteArray::number(i);
        entries.append({QStringLiteral("image_%1.img").arg(i),
                        LoadChecksum::OfBytes(name.constData(), size_t(name.size()))});
    }
    entries.append({QStringLiteral("données.img"), ChecksumText(0)});
    const QString path = ChecksumListPath(dir.filePath(QStringLiteral("load_scatter.txt")));
    QCOMPARE(path, dir.filePath(QStringLiteral("scatter_checksum.xml")));
    QString error;
    QVERIFY2(WriteChecksumList(path, entries, error), qPrintable(error));

    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    QVERIFY(bytes.startsWith(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<checksum_list>\n    <images>\n        <file "));
    QVERIFY(bytes.contains("name=\"donn\xc3\xa9"
                           "es.img\""));

    QVector<ChecksumListEntry> back;
    QVERIFY2(ReadChecksumList(path, back, error), qPrintable(error));
    QCOMPARE(back.size(), entries.size());
    for (int i = 0; i < entries.size(); ++i) {
        QCOMPARE(back.at(i).name, entries.at(i).name);
        QCOMPARE(back.at(i).checksum, entries.at(i).checksum);
    }
}

void LoadFormatTest::checksumListRefusesHostileOrMalformedXml_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("reason");
    const QByteArray good = "<file name=\"a.img\" checksum=\"0123456789abcdef\"/>";
    const auto list = [](const QByteArray& images) {
        return "<?xml version=\"1.0\"?>\n<checksum_list><images>" + images + "</images></checksum_list>\n";
    };
    QTest::newRow("DOCTYPE with entity")
        << QByteArray(
               "<?xml version=\"1.0\"?>\n<!DOCTYPE l [<!ENTITY e \"0123456789abcdef\">]>\n"
               "<checksum_list><images><file name=\"a.img\" checksum=\"&e;\"/></images></checksum_list>")
        << "DOCTYPE";
    QByteArray laughs = "<?xml version=\"1.0\"?>\n<!DOCTYPE l [<!ENTITY a \"ha\">";
    for (int i = 1; i < 10; ++i)
        laughs += QStringLiteral("<!ENTITY %1 \"&%2;&%2;&%2;&%2;&%2;&%2;&%2;&%2;\">")
                      .arg(QChar('a' + i))
                      .arg(QChar('a' + i - 1))
                      .toLatin1();
    QTest::newRow("entity expansion") << laughs + "]><checksum_list>&j;</checksum_list>"
                                      << "DOCTYPE";
    QTest::newRow("deep nesting") << QByteArray("<checksum_list>").repeated(1) +
                                         QByteArray("<images>").repeated(200)
                                  << "deeper than 64";
    QTest::newRow("over the size cap")
        << list(good + QByteArray(16 * 1024 * 1024, ' ')) << "larger than the limit";
    QTest::newRow("token longer than 64 KiB")
        << list("<file name=\"" + QByteArray(70000, 'a') + "\" checksum=\"0123456789abcdef\"/>")
        << "no complete XML token";
    QTest::newRow("element without name")
        << list(good + "<file checksum=\"0123456789abcdef\"/>") << "entry 2 has no \"name\"";
    QTest::newRow("duplicate name") << list(good + good) << "already listed as entry 1";
    QTest::newRow("missing checksum") << list("<file name=\"a.img\"/>") << "no \"checksum\"";
    QTest::newRow("uppercase checksum")
        << list("<file name=\"a.img\" checksum=\"0123456789ABCDEF\"/>") << "not 16 lowercase";
    QTest::newRow("name with folder")
        << list("<file name=\"../a.img\" checksum=\"0123456789abcdef\"/>") << "folder part";
    QTest::newRow("other element") << list("<image name=\"a.img\" checksum=\"0123456789abcdef\"/>")
                                   << "expected \"file\"";
    QTest::newRow("wrong root") << QByteArray("<list><images/></list>") << "expected \"checksum_list\"";
    QTest::newRow("no images") << QByteArray("<checksum_list/>") << "no \"images\"";
    QTest::newRow("not well formed") << list(good).replace("</images>", "</image>") << "(line 2, column";
    QTest::newRow("truncated") << list(good).left(60) << "Premature end";
    QTest::newRow("invalid UTF-8") << list("<file name=\"\xc3(.img\" checksum=\"0123456789abcdef\"/>")
                                   << "UTF-8";
    QTest::newRow("empty file") << QByteArray() << "Premature end";
}

void LoadFormatTest::checksumListRefusesHostileOrMalformedXml()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, reason);
    const QString path = WriteFile(QStringLiteral("hostile.xml"), content);
    QVERIFY(!path.isEmpty());
    QVector<ChecksumListEntry> entries{{QStringLiteral("kept.img"), ChecksumText(1)}};
    QString error;
    QVERIFY(!ReadChecksumList(path, entries, error));
    QVERIFY2(error.startsWith(path + QStringLiteral(": ")), qPrintable(error));
    QVERIFY2(error.contains(reason), qPrintable(error));
    QCOMPARE(entries.size(), 1); // a refused list leaves the caller's entries alone
}

void LoadFormatTest::checksumListWriteRefusesDuplicates()
{
    const QString path = dir.filePath(QStringLiteral("dup_checksum.xml"));
    const QVector<ChecksumListEntry> entries{{QStringLiteral("a.img"), ChecksumText(1)},
                                             {QStringLiteral("A.img"), ChecksumText(2)}};
    QString error;
    QVERIFY(!WriteChecksumList(path, entries, error));
    QVERIFY2(error.contains(QStringLiteral("listed twice")), qPrintable(error));
    QVERIFY(!QFile::exists(path));
}

void LoadFormatTest::xmlTreeKeepsAttributesTextAndChildren()
{
    XmlNode root;
    QString error;
    QVERIFY2(ReadXmlTree("<flash a=\"1\" b='&lt;2&gt;'>\n  <scatter> load.txt </scatter>"
                         "<contact>x<![CDATA[<y>]]></contact><scatter>second</scatter></flash>",
                         root, error),
             qPrintable(error));
    QCOMPARE(root.name, QStringLiteral("flash"));
    QCOMPARE(root.attributes.value(QStringLiteral("b")), QStringLiteral("<2>"));
    QCOMPARE(int(root.children.size()), 3);
    QVERIFY(root.Child(QStringLiteral("scatter")) == &root.children.front());
    QCOMPARE(root.Child(QStringLiteral("scatter"))->text, QStringLiteral(" load.txt "));
    QCOMPARE(root.Child(QStringLiteral("contact"))->text, QStringLiteral("x<y>"));
    QVERIFY(root.Child(QStringLiteral("absent")) == nullptr);
}

void LoadFormatTest::xmlTreeAcceptsSixtyFourLevelsOnly()
{
    const auto nested = [](int depth) {
        return QByteArray("<a>").repeated(depth) + QByteArray("</a>").repeated(depth);
    };
    XmlNode root;
    QString error;
    QVERIFY2(ReadXmlTree(nested(64), root, error), qPrintable(error));
    const XmlNode* node = &root;
    int depth = 1;
    while (!node->children.empty()) {
        node = &node->children.front();
        ++depth;
    }
    QCOMPARE(depth, 64);
    QVERIFY(!ReadXmlTree(nested(65), root, error));
    QVERIFY2(error.contains(QStringLiteral("deeper than 64")), qPrintable(error));
}

void LoadFormatTest::xmlErrorsCarryLineAndColumn()
{
    XmlNode root;
    QString error;
    QVERIFY(!ReadXmlTree("<a>\n<b>\n  <c></b>\n</a>", root, error));
    QVERIFY2(QRegularExpression(QStringLiteral(".+ \\(line 3, column \\d+\\)$")).match(error).hasMatch(),
             qPrintable(error));
    QVERIFY(!ReadXmlTree("<a>\n\n<b attr=\"\xff\"/></a>", root, error));
    QVERIFY2(error.contains(QStringLiteral("(line 3, column")), qPrintable(error));
    QVERIFY(!ReadXmlTree("<a/>", root, error, 3));
    QVERIFY2(error.contains(QStringLiteral("limit of 3 bytes")), qPrintable(error));
}

void LoadFormatTest::xmlTokenGuardCountsBytesAfterTheLastToken_data()
{
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<bool>("accepted");
    // Many small tokens first, so the long one starts well inside a later chunk of input.
    QByteArray lead = "<r>";
    for (int i = 0; i < 3000; ++i)
        lead += "<e>\xc3\xa9\xe2\x82\xac\xf0\x9d\x84\x9e</e>";
    const auto attribute = [&](int length) {
        return lead + "<t v=\"" + QByteArray(length, 'v') + "\"/></r>";
    };
    const auto text = [&](int length) { return lead + "<t>" + QByteArray(length, 't') + "</t></r>"; };
    QTest::newRow("multibyte text in small tokens") << lead + "</r>" << true;
    QTest::newRow("attribute of 60 KiB") << attribute(60 * 1024) << true;
    QTest::newRow("attribute of 65 KiB") << attribute(65 * 1024) << false;
    QTest::newRow("text of 60 KiB") << text(60 * 1024) << true;
    QTest::newRow("text of 65 KiB") << text(65 * 1024) << false;
    QTest::newRow("endless comment") << "<r><!--" + QByteArray(200 * 1024, 'c') << false;
}

void LoadFormatTest::xmlTokenGuardCountsBytesAfterTheLastToken()
{
    QFETCH(QByteArray, document);
    QFETCH(bool, accepted);
    XmlNode root;
    QString error;
    QCOMPARE(ReadXmlTree(document, root, error), accepted);
    if (accepted)
        QVERIFY(root.Child(QStringLiteral("e")) != nullptr);
    else
        QVERIFY2(error.contains(QStringLiteral("no complete XML token within 65536 bytes")),
                 qPrintable(error));
}

QTEST_GUILESS_MAIN(LoadFormatTest)
#include "tst_loadformat.moc"
