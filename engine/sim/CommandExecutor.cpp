#include "CommandExecutor.h"

#include "CommandNames.h"
#include "DeviceIdentity.h"
#include "FlashJob.h"
#include "MemoryTarget.h"
#include "SlaGate.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QXmlStreamWriter>

namespace quillonsim {

namespace {

Status Invalid(const QString& text)
{
    return Status::Fail(QUILLON_E_INVALID_ARGUMENT, text);
}

QString LocalPath(const QString& path)
{
    return QDir::fromNativeSeparators(path);
}

// The host memory an argument names, checked before anything touches it.
Status RequiredMemory(const CommandDocument& command, const QString& key, MemoryTarget& memory)
{
    QString text;
    if (const Status missing = command.Required(key, text); !missing.Ok())
        return missing;
    QString error;
    if (!MemoryTarget::Parse(text, memory, error))
        return Invalid(QStringLiteral("%1: %2").arg(command.Name(), error));
    return Status::Success();
}

} // namespace

Status CommandExecutor::Execute(const CommandDocument& command)
{
    return context.Outcome(QStringLiteral("command"), command.Name(), Run(command));
}

Status CommandExecutor::Run(const CommandDocument& command)
{
    namespace N = CommandNames;
    const QString& name = command.Name();
    if (!N::IsSupported(name))
        return Status::Fail(QUILLON_E_UNSUPPORTED, QStringLiteral("Unsupported command %1").arg(name));
    Session& session = context.TheSession();
    if (!context.TheFarm().StillPresent(session.device)) {
        session.state = Session::State::Lost;
        return Status::Fail(QUILLON_E_DEVICE,
                            QStringLiteral("Device on %1 is no longer connected").arg(context.PortName()));
    }
    if (session.fault.Fails(Stage::Command, session.device.deviceNumber) && session.fault.failCommand == name)
        return Status::Fail(QUILLON_E_DEVICE,
                            QStringLiteral("Device on %1 failed %2").arg(context.PortName(), name));
    if (const Status refused = SlaGate::Permits(context, name); !refused.Ok())
        return refused;
    if (name == N::kEraseFlash)
        return EraseFlash(command);
    if (name == N::kFlashAll)
        return Flash(command, false);
    if (name == N::kFlashUpdate)
        return Flash(command, true);
    if (name == N::kFeedback)
        return WriteFeedback(command);
    if (name == N::kWriteEfuse)
        return WriteEfuse(command);
    if (name == N::kReadEfuse)
        return ReadEfuse(command);
    if (name == N::kSetBootMode)
        return SetBootMode(command);
    if (name == N::kReboot)
        return Reboot(command);
    if (name == N::kGetSysProperty)
        return AnswerSysProperty(command);
    if (name == N::kGetDevFwInfo)
        return AnswerFirmwareInfo(command);
    return SetFlashPolicy(command);
}

Status CommandExecutor::EraseFlash(const CommandDocument& command)
{
    QString partition;
    if (const Status missing = command.Required(QStringLiteral("partition"), partition); !missing.Ok())
        return missing;
    const Status status = context.Step(context.Settings().eraseMs, QStringLiteral("Erasing flash"));
    if (status.Ok())
        context.TheSession().downloaded.clear();
    return status;
}

Status CommandExecutor::Flash(const CommandDocument& command, bool update)
{
    QString source;
    if (const Status missing = command.Required(QStringLiteral("source_file"), source); !missing.Ok())
        return missing;
    if (update) {
        QString backup;
        if (const Status missing = command.Required(QStringLiteral("backup_folder"), backup); !missing.Ok())
            return missing;
        const Status status = WriteBackup(LocalPath(backup));
        if (!status.Ok())
            return status;
    }
    FlashJob job(context);
    return job.Run(LocalPath(source));
}

Status CommandExecutor::WriteBackup(const QString& folder)
{
    if (!QDir().mkpath(folder))
        return Status::Fail(QUILLON_E_IO, QStringLiteral("Cannot create the backup folder %1").arg(folder));
    const Session& session = context.TheSession();
    const QString path = QDir(folder).filePath(
        QStringLiteral("backup_%1_%2.txt").arg(context.PortName()).arg(session.device.deviceNumber));
    const QByteArray content = QStringLiteral("port=%1\ndevice=%2\nhrid=%3\n")
                                   .arg(context.PortName())
                                   .arg(session.device.deviceNumber)
                                   .arg(QString::fromLatin1(DeviceIdentity::Hrid(session.device).toHex()))
                                   .toUtf8();
    return WriteFile(path, content, QStringLiteral("backup file"));
}

Status CommandExecutor::WriteFile(const QString& path, const QByteArray& bytes, const QString& what)
{
    if (!QFileInfo(QFileInfo(path).absolutePath()).isDir())
        return Status::Fail(
            QUILLON_E_IO,
            QStringLiteral("Cannot write the %1 %2: its folder does not exist").arg(what, path));
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        return Status::Fail(QUILLON_E_IO,
                            QStringLiteral("Cannot write the %1 %2: %3").arg(what, path, file.errorString()));
    return Status::Success();
}

Status CommandExecutor::WriteFeedback(const CommandDocument& command)
{
    QString target;
    if (const Status missing = command.Required(QStringLiteral("target_file"), target); !missing.Ok())
        return missing;
    QByteArray text;
    QXmlStreamWriter writer(&text);
    writer.setAutoFormatting(true);
    writer.writeStartDocument();
    writer.writeStartElement(QStringLiteral("downloaded_images"));
    for (const DownloadedImage& image : context.TheSession().downloaded) {
        writer.writeStartElement(QStringLiteral("item"));
        writer.writeAttribute(QStringLiteral("file"), QDir::toNativeSeparators(image.file));
        writer.writeAttribute(QStringLiteral("image_chksum"), image.checksum);
        writer.writeAttribute(QStringLiteral("pt"), image.partition);
        writer.writeEndElement();
    }
    writer.writeEndElement();
    writer.writeEndDocument();
    return WriteFile(LocalPath(target), text, QStringLiteral("feedback file"));
}

Status CommandExecutor::WriteEfuse(const CommandDocument& command)
{
    QString source;
    if (const Status missing = command.Required(QStringLiteral("source_file"), source); !missing.Ok())
        return missing;
    source = LocalPath(source);
    QFile file(source);
    if (!QFileInfo(source).isFile())
        return Status::Fail(QUILLON_E_IO, QStringLiteral("eFuse file not found: %1").arg(source));
    if (file.size() > kMaxEfuseBytes)
        return Status::Fail(
            QUILLON_E_IO,
            QStringLiteral("eFuse file %1 is larger than %2 bytes").arg(source).arg(kMaxEfuseBytes));
    if (!file.open(QIODevice::ReadOnly))
        return Status::Fail(
            QUILLON_E_IO,
            QStringLiteral("Cannot read the eFuse file %1: %2").arg(source, file.errorString()));
    const QByteArray bytes = file.read(kMaxEfuseBytes);
    const Status status = context.Step(context.Settings().efuseMs, QStringLiteral("Writing eFuse"));
    if (status.Ok())
        context.TheSession().efuse = bytes;
    return status;
}

Status CommandExecutor::ReadEfuse(const CommandDocument& command)
{
    QString target;
    if (const Status missing = command.Required(QStringLiteral("target_file"), target); !missing.Ok())
        return missing;
    const Status status = context.Step(context.Settings().efuseMs, QStringLiteral("Reading eFuse"));
    if (!status.Ok())
        return status;
    const QByteArray& efuse = context.TheSession().efuse;
    // A device whose eFuses were never written reads back blank.
    return WriteFile(LocalPath(target), efuse.isEmpty() ? QByteArray(256, '\0') : efuse,
                     QStringLiteral("eFuse read-back file"));
}

Status CommandExecutor::SetBootMode(const CommandDocument& command)
{
    QString mode;
    if (const Status missing = command.Required(QStringLiteral("mode"), mode); !missing.Ok())
        return missing;
    const QStringList modes{QStringLiteral("META"), QStringLiteral("FASTBOOT"),
                            QStringLiteral("ANDROID-TEST-MODE")};
    if (!modes.contains(mode))
        return Status::Fail(
            QUILLON_E_UNSUPPORTED,
            QStringLiteral("Unsupported boot mode \"%1\": expected META, FASTBOOT or ANDROID-TEST-MODE")
                .arg(mode));
    context.TheSession().bootMode = mode;
    return Status::Success();
}

Status CommandExecutor::Reboot(const CommandDocument& command)
{
    QString action;
    if (const Status missing = command.Required(QStringLiteral("action"), action); !missing.Ok())
        return missing;
    if (action == QLatin1String("IMMEDIATE"))
        context.TheFarm().LeaveOnRelease(context.TheSession().device);
    else if (action != QLatin1String("DISCONNECT"))
        return Status::Fail(
            QUILLON_E_UNSUPPORTED,
            QStringLiteral("Unsupported reboot action \"%1\": expected IMMEDIATE or DISCONNECT").arg(action));
    return Status::Success();
}

Status CommandExecutor::WriteAnswer(const CommandDocument& command, const QByteArray& answer)
{
    MemoryTarget memory;
    if (const Status invalid = RequiredMemory(command, QStringLiteral("target_file"), memory); !invalid.Ok())
        return invalid;
    QString error;
    if (!memory.WriteText(answer, error))
        return Status::Fail(QUILLON_E_INVALID_ARGUMENT, QStringLiteral("%1: %2").arg(command.Name(), error));
    return Status::Success();
}

Status CommandExecutor::AnswerSysProperty(const CommandDocument& command)
{
    QString key;
    if (const Status missing = command.Required(QStringLiteral("key"), key); !missing.Ok())
        return missing;
    if (key != QLatin1String("DA.SLA"))
        return Status::Fail(QUILLON_E_UNSUPPORTED, QStringLiteral("Unknown system property \"%1\"").arg(key));
    return WriteAnswer(command, DeviceIdentity::SysPropertyAnswer(key, context.Settings().slaEnabled));
}

Status CommandExecutor::AnswerFirmwareInfo(const CommandDocument& command)
{
    QByteArray challenge;
    const QByteArray answer = DeviceIdentity::FirmwareInfoAnswer(context.TheSession().device, challenge);
    const Status status = WriteAnswer(command, answer);
    if (status.Ok())
        context.TheSession().challenge = challenge;
    return status;
}

Status CommandExecutor::SetFlashPolicy(const CommandDocument& command)
{
    MemoryTarget memory;
    if (const Status invalid = RequiredMemory(command, QStringLiteral("source_file"), memory); !invalid.Ok())
        return invalid;
    if (const Status refused = SlaGate::AcceptsResponse(context, memory.Read()); !refused.Ok())
        return refused;
    context.TheSession().policyAccepted = true;
    return Status::Success();
}

} // namespace quillonsim
