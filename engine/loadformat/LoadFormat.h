// The load formats that only the engine, the checker, the tools and the benchmarks read. The tool
// itself never links this: it reads the checksum list with its own parsers.
#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QVector>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace loadformat {

// ---- Scatter file: "<partition> <image file>" per line, '#' starts a comment, image NONE = not downloaded.

struct ScatterEntry
{
    QString partition;
    QString image; // bare file name inside the scatter file's folder
    int line = 0;  // 1-based line of the scatter file it came from
};

struct Scatter
{
    QString folder;               // absolute folder of the scatter file
    QVector<ScatterEntry> images; // downloaded images in file order; NONE partitions are left out
    QString ImagePath(const ScatterEntry& entry) const;
};

// Refuses malformed lines, absolute or nested image names and two images of one name, with an error
// "<path>:<line>: <reason>".
bool ReadScatter(const QString& path, Scatter& out, QString& error);
bool WriteScatter(const QString& path, const QVector<ScatterEntry>& entries, QString& error);
// As above, with a comment block (one "# " line per line of comment) before the entries. Entries whose
// image is NONE are written as such; entries that would not read back are refused.
bool WriteScatter(const QString& path, const QVector<ScatterEntry>& entries, const QString& comment,
                  QString& error);

// ---- Load checksum: XXH3-64, seed 0, as 16 lowercase hex digits (what `xxhsum -H3` prints).

QString ChecksumText(uint64_t hash);

// Files are hashed in reads of this many bytes: a block that stays in the cache between the read and the
// hash runs at about 12 GB/s on a warm load, and unlike a mapping a file cut short meanwhile is an error,
// not a crash.
inline constexpr qint64 kFileHashBlock = qint64(1024) * 1024;

class LoadChecksum
{
public:
    LoadChecksum();
    ~LoadChecksum();
    LoadChecksum(const LoadChecksum&) = delete;
    LoadChecksum& operator=(const LoadChecksum&) = delete;

    void Update(const void* data, size_t length);
    uint64_t Value() const;
    QString Text() const;

    static QString OfBytes(const void* data, size_t length);
    // Hashes a whole file; false with "<path>: <reason>" when it cannot be read.
    static bool OfFile(const QString& path, QString& text, QString& error);

private:
    struct State;
    std::unique_ptr<State> state;
};

// ---- Checksum list "scatter_checksum.xml" beside the scatter file:
// <checksum_list><images><file name="system.img" checksum="..."/>...</images></checksum_list>

inline constexpr const char* kChecksumListName = "scatter_checksum.xml";

struct ChecksumListEntry
{
    QString name;
    QString checksum;
};

QString ChecksumListPath(const QString& scatterPath);
bool WriteChecksumList(const QString& path, const QVector<ChecksumListEntry>& entries, QString& error);
// Refuses malformed or hostile XML, elements without "name", and two entries of one name.
bool ReadChecksumList(const QString& path, QVector<ChecksumListEntry>& out, QString& error);
// Hashes every image the scatter file lists and writes the checksum list beside it. A missing or
// unreadable image is named with the scatter line that lists it.
bool WriteChecksumListForScatter(const QString& scatterPath, QVector<ChecksumListEntry>& written,
                                 QString& error);

// ---- Guarded XML for every document the engine side reads: size cap, no DOCTYPE, depth <= 64,
// no more than 64 KiB without a completed token. Errors carry the reader's message, line and column.

struct XmlNode
{
    QString name;
    QHash<QString, QString> attributes;
    QString text; // concatenated character data directly inside this element
    std::vector<XmlNode> children;

    const XmlNode* Child(const QString& childName) const; // first direct child of that name, or null
};

inline constexpr qint64 kDefaultXmlCap = 2 * 1024 * 1024;

bool ReadXmlTree(const QByteArray& bytes, XmlNode& root, QString& error, qint64 cap = kDefaultXmlCap);
bool ReadXmlFile(const QString& path, XmlNode& root, QString& error, qint64 cap = kDefaultXmlCap);

} // namespace loadformat
