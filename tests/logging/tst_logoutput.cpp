#include "logging/LogLevel.h"
#include "logging/LogOutput.h"

#include <QtTest>

#include <cerrno>
#include <cstdio>
#include <memory>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

// A log file on a disk that can fill up. Bytes collect in a buffer as in a C stream and go to the disk when
// the buffer overflows (a failure then surfaces in the write) or at a flush; the disk takes what still fits
// and the rest of the buffer is dropped, as the C library drops it after a failed write.
class FillingDiskOutput : public LogOutput
{
public:
    explicit FillingDiskOutput(FILE* file) : LogOutput("disk.log", LogLevel::V, file, false) {}

    void SetBufferSize(int bytes) { bufferSize = bytes; }
    void Fill(int bytesLeft, int error)
    {
        room = bytesLeft;
        failure = error;
    }
    void Free() { room = -1; }

protected:
    int WriteStream(const char* text, size_t length) override
    {
        pending.append(text, static_cast<int>(length));
        return pending.size() > bufferSize ? Drain() : 0;
    }
    int FlushStream() override { return Drain(); }

private:
    int Drain()
    {
        QByteArray bytes;
        bytes.swap(pending);
        int error = 0;
        if (room >= 0 && bytes.size() > room) {
            bytes.truncate(room);
            error = failure;
        }
        if (room >= 0) {
            room -= bytes.size();
        }
        LogOutput::WriteStream(bytes.constData(), static_cast<size_t>(bytes.size()));
        LogOutput::FlushStream();
        return error;
    }

    QByteArray pending;
    int bufferSize = 4096;
    int room = -1;
    int failure = 0;
};

QByteArray ReadAll(FILE* file)
{
    QByteArray text;
    std::rewind(file);
    char chunk[4096];
    size_t count = 0;
    while ((count = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        text.append(chunk, static_cast<int>(count));
    }
    return text;
}

int ErrorNamed(const QString& name)
{
    return name == "EIO" ? EIO : ENOSPC;
}

} // namespace

class TestLogOutput : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void fullDiskLosesLinesButNeverSilently_data();
    void fullDiskLosesLinesButNeverSilently();
    void failingCStreamIsCaughtAndWritesAgainOnceThereIsRoom();
};

void TestLogOutput::fullDiskLosesLinesButNeverSilently_data()
{
    // Steps: "line" writes the next numbered line in three pieces and flushes it, as the logger does;
    // "fill <bytes> [EIO]" leaves that much room on the disk; "free" makes room again; "buffer <bytes>"
    // sizes the stream's buffer. The output is closed after the last step.
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QByteArray>("file");

    QTest::newRow("nothing fails") << QStringList{"line", "line"} << QByteArray("line 1\nline 2\n");
    QTest::newRow("flush fails part-way through a line")
        << QStringList{"line", "line", "fill 3", "line", "line", "line", "free", "line"}
        << QByteArray("line 1\nline 2\nlin\n[3 log lines lost: No space left on device]\nline 6\n");
    QTest::newRow("disk fills at the end of a line")
        << QStringList{"line", "fill 0", "line", "line", "free", "line"}
        << QByteArray("line 1\n\n[2 log lines lost: No space left on device]\nline 4\n");
    QTest::newRow("write fails when the buffer overflows")
        << QStringList{"buffer 4", "line", "fill 9", "line", "line", "free", "line"}
        << QByteArray("line 1\nline 2\nli\n[1 log lines lost: No space left on device]\nline 4\n");
    QTest::newRow("the mark itself is cut short")
        << QStringList{"line", "fill 0", "line", "fill 5", "line", "free", "line"}
        << QByteArray("line 1\n\n[1 l\n[2 log lines lost: No space left on device]\nline 4\n");
    QTest::newRow("reason of another failure")
        << QStringList{"line", "fill 0 EIO", "line", "free", "line"}
        << QByteArray("line 1\n\n[1 log lines lost: Input/output error]\nline 3\n");
    QTest::newRow("closed while lines are lost")
        << QStringList{"line", "fill 0", "line", "line", "free"}
        << QByteArray("line 1\n\n[2 log lines lost: No space left on device]\n");
    QTest::newRow("a later failure counts from zero")
        << QStringList{"fill 0", "line", "free", "line", "fill 0", "line", "free", "line"}
        << QByteArray("\n[1 log lines lost: No space left on device]\nline 2\n"
                      "\n[1 log lines lost: No space left on device]\nline 4\n");
}

void TestLogOutput::fullDiskLosesLinesButNeverSilently()
{
    QFETCH(QStringList, steps);
    QFETCH(QByteArray, file);

    const std::unique_ptr<FILE, int (*)(FILE*)> disk(std::tmpfile(), &std::fclose);
    QVERIFY(disk != nullptr);
    auto output = std::make_unique<FillingDiskOutput>(disk.get());
    int lineNumber = 0;
    for (const QString& step : steps) {
        const QStringList words = step.split(' ');
        if (words[0] == "line") {
            const QByteArray number = QByteArray::number(++lineNumber);
            output->Write("line ", 5);
            output->Write(number.constData(), static_cast<size_t>(number.size()));
            output->Write("\n", 1);
            output->Flush();
        } else if (words[0] == "fill") {
            output->Fill(words[1].toInt(), ErrorNamed(words.value(2)));
        } else if (words[0] == "free") {
            output->Free();
        } else {
            QCOMPARE(words[0], QString("buffer"));
            output->SetBufferSize(words[1].toInt());
        }
    }
    output.reset();
    QCOMPARE(ReadAll(disk.get()), file);
}

void TestLogOutput::failingCStreamIsCaughtAndWritesAgainOnceThereIsRoom()
{
#ifdef Q_OS_UNIX
    // The real stream functions against a device that is always full: the descriptor under the stream is
    // switched to it and back again.
    const int full = open("/dev/full", O_WRONLY | O_CLOEXEC);
    if (full < 0) {
        QSKIP("no /dev/full on this system");
    }
    const std::unique_ptr<FILE, int (*)(FILE*)> disk(std::tmpfile(), &std::fclose);
    QVERIFY(disk != nullptr);
    FILE* stream = fdopen(dup(fileno(disk.get())), "w");
    QVERIFY(stream != nullptr);
    {
        LogOutput output("real.log", LogLevel::V, stream, true);
        output.Write("line 1\n", 7);
        output.Flush();
        QVERIFY(dup2(full, fileno(stream)) >= 0);
        output.Write("line 2\n", 7);
        output.Flush();
        QVERIFY(dup2(fileno(disk.get()), fileno(stream)) >= 0);
        output.Write("line 3\n", 7);
        output.Flush();
    }
    close(full);
    QCOMPARE(ReadAll(disk.get()),
             QByteArray("line 1\n\n[1 log lines lost: No space left on device]\nline 3\n"));
#else
    QSKIP("needs a device that is always full");
#endif
}

QTEST_GUILESS_MAIN(TestLogOutput)
#include "tst_logoutput.moc"
