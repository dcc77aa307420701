#include "BrokerEnvironment.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

namespace {

// Only the AMQP 1.0 plugin: management, prometheus and the rest would open fixed ports that two test brokers
// running at once would fight over.
const char enabledPlugins[] = "[rabbitmq_amqp1_0].\n";

// Keeps the node quiet on disk and lets the default guest user in over ANONYMOUS, which the AMQP 1.0 plugin
// maps to guest; guest itself stays limited to loopback, where the tests connect from.
const char configuration[] = "log.file.level = info\n"
                             "log.console = true\n"
                             "log.console.level = warning\n"
                             "amqp1_0.default_user = guest\n"
                             "amqp1_0.default_vhost = /\n";

const char markerName[] = "PXL_TEST_BROKER_NODE";

QString RabbitBinFolder()
{
    const QString overridden = qEnvironmentVariable("PXL_RABBITMQ_BIN");
    return overridden.isEmpty() ? QStringLiteral("/usr/lib/rabbitmq/bin") : overridden;
}

bool Write(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

} // namespace

BrokerEnvironment::BrokerEnvironment(const QString& folder_, const QString& nodeName_,
                                     const BrokerPorts& ports_)
    : folder(QDir(folder_).absolutePath()), nodeName(nodeName_), ports(ports_)
{
}

bool BrokerEnvironment::Prepare()
{
    for (const char* sub : {"home", "data", "log"}) {
        if (!QDir().mkpath(Path(QString::fromLatin1(sub)))) {
            failure = QStringLiteral("cannot create %1").arg(Path(QString::fromLatin1(sub)));
            return false;
        }
    }
    if (!Write(Path(QStringLiteral("enabled_plugins")), enabledPlugins) ||
        !Write(Path(QStringLiteral("rabbitmq.conf")), configuration)) {
        failure = QStringLiteral("cannot write the broker configuration into %1").arg(folder);
        return false;
    }
    return true;
}

QProcessEnvironment BrokerEnvironment::Environment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // A HOME of its own gives the node and its command-line tool a cookie nobody else shares.
    env.insert(QStringLiteral("HOME"), Path(QStringLiteral("home")));
    env.insert(QStringLiteral("RABBITMQ_NODENAME"), nodeName);
    env.insert(QStringLiteral("RABBITMQ_MNESIA_BASE"), Path(QStringLiteral("data")));
    env.insert(QStringLiteral("RABBITMQ_LOG_BASE"), Path(QStringLiteral("log")));
    env.insert(QStringLiteral("RABBITMQ_ENABLED_PLUGINS_FILE"), Path(QStringLiteral("enabled_plugins")));
    env.insert(QStringLiteral("RABBITMQ_CONFIG_FILE"), Path(QStringLiteral("rabbitmq.conf")));
    // Neither exists: the machine's own /etc/rabbitmq files must not change this node.
    env.insert(QStringLiteral("RABBITMQ_ADVANCED_CONFIG_FILE"), Path(QStringLiteral("advanced.config")));
    env.insert(QStringLiteral("RABBITMQ_CONF_ENV_FILE"), Path(QStringLiteral("rabbitmq-env.conf")));
    env.insert(QStringLiteral("ERL_CRASH_DUMP"), Path(QStringLiteral("log/erl_crash.dump")));
    env.insert(QStringLiteral("RABBITMQ_NODE_IP_ADDRESS"), QStringLiteral("127.0.0.1"));
    env.insert(QStringLiteral("RABBITMQ_NODE_PORT"), QString::number(ports.amqp));
    env.insert(QStringLiteral("RABBITMQ_DIST_PORT"), QString::number(ports.distribution));
    env.insert(QStringLiteral("ERL_EPMD_ADDRESS"), QStringLiteral("127.0.0.1"));
    env.insert(QStringLiteral("ERL_EPMD_PORT"), QString::number(ports.epmd));
    env.insert(QStringLiteral("RABBITMQ_SERVER_ADDITIONAL_ERL_ARGS"),
               QStringLiteral("-kernel inet_dist_use_interface {127,0,0,1}"));
    // The command-line tool is an Erlang node too and by default listens in the fixed range 35672-35682;
    // 0 lets the system give each run a free port.
    env.insert(QStringLiteral("RABBITMQ_CTL_DIST_PORT_MIN"), QStringLiteral("0"));
    env.insert(QStringLiteral("RABBITMQ_CTL_DIST_PORT_MAX"), QStringLiteral("0"));
    // Makes the server script exec the Erlang VM instead of waiting on it from a shell, so the process we
    // start is the node itself: its pid is the one to signal, and the parent-death signal reaches it.
    env.insert(QStringLiteral("RUNNING_UNDER_SYSTEMD"), QStringLiteral("1"));
    env.insert(QString::fromLatin1(markerName), MarkerValue());
    return env;
}

QString BrokerEnvironment::MarkerValue() const
{
    return nodeName + QLatin1Char(':') + QString::number(ports.epmd);
}

QByteArray BrokerEnvironment::Marker() const
{
    return QByteArray(markerName) + '=' + MarkerValue().toLatin1();
}

QString BrokerEnvironment::ServerOutputFile() const
{
    return Path(QStringLiteral("log/server.out"));
}

QString BrokerEnvironment::NodeLogFile() const
{
    return Path(QStringLiteral("log/%1.log").arg(nodeName));
}

QString BrokerEnvironment::ServerScript() const
{
    return RabbitBinFolder() + QStringLiteral("/rabbitmq-server");
}

QString BrokerEnvironment::CtlScript() const
{
    return RabbitBinFolder() + QStringLiteral("/rabbitmqctl");
}

QString BrokerEnvironment::EpmdProgram() const
{
    const QString found = QStandardPaths::findExecutable(QStringLiteral("epmd"));
    return found.isEmpty() ? QStringLiteral("/usr/lib/erlang/bin/epmd") : found;
}

QString BrokerEnvironment::Path(const QString& name) const
{
    return folder + QLatin1Char('/') + name;
}
