#include "Engine.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <cstdlib>

namespace quillonsim {

namespace {

// How long cleanup waits for calls in progress after waking them.
constexpr std::chrono::seconds kCleanupWait{5};

// Calls in progress on this thread: a cleanup made from inside one of their callbacks cannot wait for them.
thread_local int callsOnThisThread = 0;

QString ExecutableFolder()
{
    if (QCoreApplication::instance() != nullptr)
        return QCoreApplication::applicationDirPath();
    // A program without an application object (a test, a tool) still finds its own file on Linux.
    const QString target = QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget();
    return target.isEmpty() ? QString() : QFileInfo(target).absolutePath();
}

} // namespace

Engine& Engine::Instance()
{
    // Never destroyed: a worker thread may still return from a call while the process exits.
    static Engine* engine = new Engine();
    return *engine;
}

bool Engine::LoadConfig(FarmConfig& config, QString& error) const
{
    switch (source) {
    case Source::Defaults:
        config = FarmConfig::Defaults();
        return true;
    case Source::File:
        return FarmConfig::Load(configPath, config, error);
    case Source::Environment:
        break;
    }
    const char* variable = std::getenv(kFarmVariable);
    if (variable != nullptr && *variable != '\0') {
        const QString path = QString::fromLocal8Bit(variable);
        if (!QFileInfo(path).isFile()) {
            error = QStringLiteral("Farm file not found: %1 (named by %2=%1)")
                        .arg(path, QLatin1String(kFarmVariable));
            return false;
        }
        return FarmConfig::Load(path, config, error);
    }
    const QString folder = ExecutableFolder();
    const QString beside = folder.isEmpty() ? QString() : QDir(folder).filePath(QLatin1String(kFarmFileName));
    if (!beside.isEmpty() && QFileInfo::exists(beside))
        return FarmConfig::Load(beside, config, error);
    config = FarmConfig::Defaults();
    return true;
}

std::shared_ptr<Farm> Engine::TakeFarmLocked()
{
    std::shared_ptr<Farm> old = std::move(farm);
    farm.reset();
    return old;
}

void Engine::Retire(std::shared_ptr<Farm> old)
{
    if (!old)
        return;
    old->Shutdown();
    const int own = callsOnThisThread;
    std::unique_lock<std::mutex> lock(mutex);
    idle.wait_for(lock, kCleanupWait, [&] { return activeCalls <= own; });
    // A call that is still running keeps its own reference; the farm goes when the last one returns.
}

Status Engine::Startup()
{
    std::lock_guard<std::mutex> lock(mutex);
    if (!configError.isEmpty())
        return Status::Fail(QUILLON_E_FAILED, configError);
    if (!farm) {
        FarmConfig config;
        QString error;
        if (!LoadConfig(config, error)) {
            configError = error;
            return Status::Fail(QUILLON_E_FAILED, error);
        }
        farm = std::make_shared<Farm>(config);
        if (!farm->StartError().isEmpty()) {
            configError = farm->StartError();
            farm.reset();
            return Status::Fail(QUILLON_E_FAILED, configError);
        }
    }
    started = true;
    return Status::Success();
}

Status Engine::Cleanup()
{
    std::shared_ptr<Farm> old;
    {
        std::lock_guard<std::mutex> lock(mutex);
        started = false;
        old = TakeFarmLocked();
    }
    trace.Stop();
    Retire(std::move(old));
    return Status::Success();
}

Status Engine::Configure(const char* iniPath)
{
    FarmConfig config;
    QString error;
    std::shared_ptr<Farm> old;
    Status status;
    {
        std::lock_guard<std::mutex> lock(mutex);
        source = iniPath == nullptr ? Source::Defaults : Source::File;
        configPath = iniPath == nullptr ? QString() : QString::fromUtf8(iniPath);
        old = TakeFarmLocked();
        if (source == Source::File && configPath.isEmpty()) {
            error = QStringLiteral("Farm file not found: the path is empty");
        } else if (LoadConfig(config, error)) {
            configError.clear();
            if (started)
                farm = std::make_shared<Farm>(config);
            if (farm && !farm->StartError().isEmpty()) {
                error = farm->StartError();
                farm.reset();
            }
        }
        if (!error.isEmpty()) {
            configError = error;
            status = Status::Fail(QUILLON_E_FAILED, error);
        }
    }
    Retire(std::move(old));
    return status;
}

Status Engine::SetLog(int mode, const char* folder)
{
    if (mode == QUILLON_LOG_OFF) {
        trace.Stop();
        return Status::Success();
    }
    if (mode != QUILLON_LOG_ON)
        return Status::Fail(QUILLON_E_INVALID_ARGUMENT,
                            QStringLiteral("Unsupported log mode %1: expected 1 (on) or 6 (off)").arg(mode));
    if (folder == nullptr || *folder == '\0')
        return Status::Fail(QUILLON_E_INVALID_ARGUMENT,
                            QStringLiteral("No folder given for the engine trace"));
    QString error;
    if (!trace.Start(QString::fromUtf8(folder), error))
        return Status::Fail(QUILLON_E_IO, error);
    return Status::Success();
}

Engine::Call::Call(Engine& engine) : engine(engine)
{
    std::lock_guard<std::mutex> lock(engine.mutex);
    if (!engine.configError.isEmpty()) {
        status = Status::Fail(QUILLON_E_FAILED, engine.configError);
        return;
    }
    if (!engine.farm) {
        status = Status::Fail(QUILLON_E_NOT_STARTED,
                              QStringLiteral("The engine is not started: call quillon_startup first"));
        return;
    }
    farm = engine.farm;
    ++engine.activeCalls;
    ++callsOnThisThread;
    counted = true;
}

Engine::Call::~Call()
{
    // The farm reference goes first, so the engine never waits on a call that only holds a stale farm.
    farm.reset();
    if (!counted)
        return;
    --callsOnThisThread;
    {
        std::lock_guard<std::mutex> lock(engine.mutex);
        --engine.activeCalls;
    }
    engine.idle.notify_all();
}

} // namespace quillonsim
