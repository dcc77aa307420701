#include "SlaRecord.h"

#include <QFile>

#include <mutex>

namespace slastandin {

void SlaRecord::Append(const QString& path, const char* function, const QByteArray& details)
{
    if (path.isEmpty())
        return;
    static std::mutex mutex;
    const QByteArray line = QByteArray(function) + ' ' + details + '\n';
    std::lock_guard<std::mutex> guard(mutex);
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Append))
        file.write(line);
}

} // namespace slastandin
