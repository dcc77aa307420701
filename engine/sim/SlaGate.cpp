#include "SlaGate.h"

namespace quillonsim {

bool SlaGate::AcceptsResponse(const Session& session, const QByteArray& response, QString& error)
{
    Q_UNUSED(session)
    Q_UNUSED(response)
    Q_UNUSED(error)
    return true;
}

bool SlaGate::Permits(const PortSettings& settings, const Session& session, const QString& command,
                      QString& error)
{
    Q_UNUSED(settings)
    Q_UNUSED(session)
    Q_UNUSED(command)
    Q_UNUSED(error)
    return true;
}

} // namespace quillonsim
