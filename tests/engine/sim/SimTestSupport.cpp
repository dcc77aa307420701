#include "SimTestSupport.h"

#include "LoadFormat.h"
#include "quillon_sim.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QXmlStreamWriter>

#include <vector>

namespace simtest {

QString WriteFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(bytes);
    return QFileInfo(path).absoluteFilePath();
}

QString WriteFarm(const QString& name, const QString& text)
{
    return WriteFile(QDir::current().filePath(name), text.toUtf8());
}

SampleLoad WriteLoad(const QString& folder, const QList<SampleImage>& images)
{
    SampleLoad load;
    QDir().mkpath(folder);
    load.folder = QFileInfo(folder).absoluteFilePath();
    QVector<loadformat::ScatterEntry> entries;
    QVector<loadformat::ChecksumListEntry> list;
    for (const SampleImage& image : images) {
        entries.push_back({image.partition, image.name, 0});
        if (image.name == QLatin1String("NONE"))
            continue;
        QByteArray bytes(image.size, Qt::Uninitialized);
        for (int i = 0; i + 3 < bytes.size(); i += 4) {
            const quint32 value = QRandomGenerator::global()->generate();
            memcpy(bytes.data() + i, &value, 4);
        }
        for (int i = bytes.size() & ~3; i < bytes.size(); ++i)
            bytes[i] = char(QRandomGenerator::global()->bounded(256));
        const QString path = WriteFile(QDir(load.folder).filePath(image.name), bytes);
        QString checksum;
        QString error;
        loadformat::LoadChecksum::OfFile(path, checksum, error);
        load.checksums.insert(image.name, checksum);
        load.partitions.insert(image.name, image.partition);
        list.push_back({image.name, checksum});
    }
    load.scatterPath = QDir(load.folder).filePath(QStringLiteral("load_scatter.txt"));
    QString error;
    loadformat::WriteScatter(load.scatterPath, entries, error);
    loadformat::WriteChecksumList(loadformat::ChecksumListPath(load.scatterPath), list, error);
    load.flashXmlPath = WriteFile(QDir(load.folder).filePath(QStringLiteral("flash.xml")),
                                  "<flash><scatter>load_scatter.txt</scatter></flash>\n");
    return load;
}

QByteArray Command(const QString& name, const QList<QPair<QString, QString>>& args)
{
    QByteArray text;
    QXmlStreamWriter writer(&text);
    writer.setAutoFormatting(true);
    writer.writeStartDocument();
    writer.writeStartElement(QStringLiteral("da"));
    writer.writeTextElement(QStringLiteral("version"), QStringLiteral("1.0"));
    writer.writeTextElement(QStringLiteral("command"), name);
    writer.writeStartElement(QStringLiteral("arg"));
    for (const auto& arg : args)
        writer.writeTextElement(arg.first, arg.second);
    writer.writeEndElement();
    writer.writeEndElement();
    writer.writeEndDocument();
    return text;
}

QByteArray RuntimeParameters()
{
    return Command(QStringLiteral("CMD:SET-RUNTIME-PARAMETER"),
                   {{QStringLiteral("checksum_level"), QStringLiteral("USB")},
                    {QStringLiteral("battery_exist"), QStringLiteral("AUTO-DETECT")},
                    {QStringLiteral("hw_reset_key"), QStringLiteral("POWER-KEY+X")},
                    {QStringLiteral("da_log_level"), QStringLiteral("INFO")},
                    {QStringLiteral("log_channel"), QStringLiteral("UART")},
                    {QStringLiteral("system_os"), QStringLiteral("WINDOWS")}});
}

QString MemoryTarget(const void* address, quint64 length)
{
    return QStringLiteral("MEM://0x%1:0x%2").arg(quintptr(address), 0, 16).arg(length, 0, 16);
}

QString LastError(QuillonSession* session)
{
    return QString::fromUtf8(quillon_get_last_error_msg(session));
}

bool Restart(const QString& farmFile, QString* error)
{
    quillon_cleanup();
    const QByteArray path = farmFile.toUtf8();
    if (quillon_sim_configure(farmFile.isEmpty() ? nullptr : path.constData()) != QUILLON_OK ||
        quillon_startup(nullptr) != QUILLON_OK) {
        if (error != nullptr)
            *error = LastError();
        return false;
    }
    return true;
}

int Scan(const QString& uri, QByteArray& description, unsigned int timeoutMs, const ScanCallbacks* callbacks)
{
    char buffer[512];
    const int result =
        quillon_scan_device(uri.toUtf8().constData(), buffer, sizeof buffer, timeoutMs, callbacks);
    description = QByteArray(buffer);
    return result;
}

QuillonSession* OpenDaSession(const QString& uri, const SampleLoad& load, QString& error,
                              const OperationCallbacks* callbacks)
{
    QuillonSession* session = quillon_create_session();
    if (session == nullptr) {
        error = LastError();
        return nullptr;
    }
    QByteArray description;
    int result = Scan(uri, description, 10000);
    if (result == QUILLON_OK)
        result = quillon_connect_device(session, description.constData(), "115200@", "", "", callbacks);
    if (result == QUILLON_OK)
        result = quillon_enter_mode(session, "FLASH-MODE-DA", load.flashXmlPath.toUtf8().constData(),
                                    RuntimeParameters().constData(), callbacks);
    if (result != QUILLON_OK) {
        error = LastError(session);
        quillon_destroy_session(session);
        return nullptr;
    }
    return session;
}

QString FirmwareId(QuillonSession* session, const QString& name)
{
    std::vector<char> buffer(4096);
    const QByteArray query = Command(QStringLiteral("CMD:SECURITY-GET-DEV-FW-INFO"),
                                     {{"target_file", MemoryTarget(buffer.data(), buffer.size())}});
    if (quillon_execute_command(session, query.constData(), nullptr) != QUILLON_OK)
        return QString();
    loadformat::XmlNode root;
    QString error;
    if (!loadformat::ReadXmlTree(QByteArray(buffer.data()), root, error) || !root.Child(name))
        return QString();
    return root.Child(name)->text;
}

QHash<QString, QPair<QString, QString>> ReadFeedback(const QString& path, QString& error)
{
    QHash<QString, QPair<QString, QString>> items;
    loadformat::XmlNode root;
    if (!loadformat::ReadXmlFile(path, root, error))
        return items;
    for (const loadformat::XmlNode& item : root.children) {
        if (item.name != QLatin1String("item")) {
            error = QStringLiteral("unexpected element %1").arg(item.name);
            continue;
        }
        const QString file = QDir::fromNativeSeparators(item.attributes.value(QStringLiteral("file")));
        items.insert(QFileInfo(file).fileName(), {item.attributes.value(QStringLiteral("image_chksum")),
                                                  item.attributes.value(QStringLiteral("pt"))});
    }
    return items;
}

int StopFlag::Query(void* user)
{
    auto* flag = static_cast<StopFlag*>(user);
    flag->polls.fetch_add(1);
    return flag->stop.load() ? 1 : 0;
}

} // namespace simtest
