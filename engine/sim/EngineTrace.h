// The engine's own trace file, written while quillon_env_set_log has it switched on.
#pragma once

#include <QFile>
#include <QString>

#include <mutex>

namespace quillonsim {

class EngineTrace
{
public:
    static constexpr const char* kFileName = "quillon_engine.log";

    bool Start(const QString& folder, QString& error);
    void Stop();
    void Write(const QString& line);

private:
    std::mutex mutex;
    QFile file;
};

} // namespace quillonsim
