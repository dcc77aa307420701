// The engine's life: the farm description in force, the running farm, and the calls in progress, so that
// cleanup can wake them, wait a bounded time for them and free the farm safely.
#pragma once

#include "EngineTrace.h"
#include "Farm.h"
#include "FarmConfig.h"
#include "Status.h"

#include <condition_variable>
#include <memory>
#include <mutex>

namespace quillonsim {

class Engine
{
public:
    static constexpr const char* kFarmVariable = "QUILLON_FARM";
    static constexpr const char* kFarmFileName = "quillon_farm.ini";

    static Engine& Instance();

    Status Startup();
    Status Cleanup();
    // Null restores the built-in defaults; a running farm is replaced.
    Status Configure(const char* iniPath);
    Status SetLog(int mode, const char* folder);
    EngineTrace& Trace() { return trace; }

    // One engine call: holds the running farm for its length, or says why there is none.
    class Call
    {
    public:
        explicit Call(Engine& engine);
        ~Call();
        Call(const Call&) = delete;
        Call& operator=(const Call&) = delete;

        bool Ok() const { return status.Ok(); }
        const Status& Failure() const { return status; }
        Farm& TheFarm() const { return *farm; }

    private:
        Engine& engine;
        Status status;
        std::shared_ptr<Farm> farm;
        bool counted = false;
    };

private:
    enum class Source
    {
        Environment,
        File,
        Defaults
    };

    Engine() = default;
    bool LoadConfig(FarmConfig& config, QString& error) const;
    std::shared_ptr<Farm> TakeFarmLocked();
    void Retire(std::shared_ptr<Farm> farm);

    std::mutex mutex;
    std::condition_variable idle;
    int activeCalls = 0;
    // Started and not cleaned up since: a good farm file then takes effect at once, even after a refused one
    // left no farm running.
    bool started = false;
    std::shared_ptr<Farm> farm;
    QString configError;
    Source source = Source::Environment;
    QString configPath;
    EngineTrace trace;
};

} // namespace quillonsim
