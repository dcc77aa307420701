#include "PortTestSupport.h"

#include "common/PortManager.h"

#include "quillon_sim.h"

#include <QDir>

namespace PortTestSupport {

simtest::SampleLoad WriteStationLoad(const QString& folder, int imageSize)
{
    simtest::SampleLoad load = simtest::WriteLoad(
        folder, {{QStringLiteral("preloader"), QStringLiteral("preloader.bin"), imageSize},
                 {QStringLiteral("system"), QStringLiteral("system.img"), imageSize},
                 {QStringLiteral("userdata"), QStringLiteral("NONE"), 0}});
    simtest::WriteFile(QDir(load.folder).filePath(QStringLiteral("flash.xsd")),
                       "<xs:schema xmlns:xs=\"http://www.w3.org/2001/XMLSchema\"/>\n");
    load.flashXmlPath = simtest::WriteFile(
        QDir(load.folder).filePath(QStringLiteral("flash.xml")),
        "<flash><scatter>load_scatter.txt</scatter><contact>line 3</contact></flash>\n");
    return load;
}

bool ConfigureFarm(const QString& name, const QString& text)
{
    const QByteArray path = simtest::WriteFarm(name, text).toUtf8();
    return quillon_sim_configure(path.constData()) == QUILLON_OK;
}

QString PortName(int index) { return QStringLiteral("COM%1").arg(3 + index); }

void BindPorts(PortManager& manager)
{
    for (int i = 0; i < PortManager::kPortCount; ++i)
        manager.Device(i).SetPortName(PortName(i));
}

} // namespace PortTestSupport
