#include "TestBroker.h"

#include "ChildProcess.h"
#include "Loopback.h"
#include "ProcessScan.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

QString UniqueNodeName()
{
    static std::atomic<int> count{0};
    return QStringLiteral("pxltest%1_%2@localhost").arg(::getpid()).arg(++count);
}

BrokerPorts FreshPorts()
{
    const std::vector<quint16> free = Loopback::PickFreePorts(3);
    BrokerPorts ports;
    if (free.size() == 3) {
        ports.amqp = free[0];
        ports.distribution = free[1];
        ports.epmd = free[2];
    }
    return ports;
}

// Names go into an Erlang expression as a list of bytes, so no quoting or escaping can go wrong.
QString ErlangBinary(const QString& text)
{
    QStringList bytes;
    for (const char byte : text.toUtf8())
        bytes << QString::number(static_cast<unsigned char>(byte));
    return QStringLiteral("<<%1>>").arg(bytes.join(QLatin1Char(',')));
}

QStringList LastLines(const QString& path, int count)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {QStringLiteral("(no %1)").arg(path)};
    QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    return lines.mid(std::max(0, static_cast<int>(lines.size()) - count));
}

void Pause(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

} // namespace

TestBroker::TestBroker(const QString& folder)
    : nodeName(UniqueNodeName()), ports(FreshPorts()), environment(folder, nodeName, ports)
{
}

TestBroker::~TestBroker()
{
    Stop(30000);
    if (epmd)
        epmd->End(5000);
    SweepLeftovers();
}

bool TestBroker::Start(int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    failure.clear();
    if (IsRunning())
        return true;
    if (ports.amqp == 0)
        return FailWithLogs(QStringLiteral("no free ports on 127.0.0.1"));
    if (!environment.Prepare())
        return FailWithLogs(environment.Failure());
    if (!StartEpmd() || !StartServer())
        return false;
    if (!WaitUntilReady(timeoutMs - static_cast<int>(clock.elapsed()))) {
        server->End(5000);
        return false;
    }
    lastStartMs = static_cast<int>(clock.elapsed());
    return true;
}

bool TestBroker::StartEpmd()
{
    if (epmd && epmd->IsRunning())
        return true;
    // Our own epmd, started before the node: otherwise the node would start one as a daemon whose pid we
    // would not know, and which would outlive the test.
    epmd = std::make_unique<ChildProcess>();
    epmd->setProgram(environment.EpmdProgram());
    epmd->setArguments({QStringLiteral("-port"), QString::number(ports.epmd), QStringLiteral("-address"),
                        QStringLiteral("127.0.0.1")});
    epmd->setProcessEnvironment(environment.Environment());
    epmd->setWorkingDirectory(environment.Folder());
    epmd->setStandardInputFile(QProcess::nullDevice());
    epmd->setProcessChannelMode(QProcess::MergedChannels);
    epmd->setStandardOutputFile(environment.Folder() + QStringLiteral("/log/epmd.out"), QIODevice::Append);
    epmd->start();
    if (!epmd->waitForStarted(10000))
        return FailWithLogs(
            QStringLiteral("cannot run %1: %2").arg(environment.EpmdProgram(), epmd->errorString()));
    epmdPid = epmd->processId();
    QElapsedTimer clock;
    clock.start();
    while (!Loopback::Accepts(ports.epmd, 1000)) {
        if (!epmd->IsRunning())
            return FailWithLogs(QStringLiteral("epmd on port %1 exited at once").arg(ports.epmd));
        if (clock.elapsed() > 10000)
            return FailWithLogs(QStringLiteral("epmd does not listen on port %1").arg(ports.epmd));
        Pause(50);
    }
    return true;
}

bool TestBroker::StartServer()
{
    server = std::make_unique<ChildProcess>();
    server->setProgram(environment.ServerScript());
    server->setProcessEnvironment(environment.Environment());
    server->setWorkingDirectory(environment.Folder());
    server->setStandardInputFile(QProcess::nullDevice());
    server->setProcessChannelMode(QProcess::MergedChannels);
    // A file rather than a pipe: nobody drains a pipe while the test runs, and a full one would stall the
    // node.
    server->setStandardOutputFile(environment.ServerOutputFile(), QIODevice::Append);
    server->start();
    if (!server->waitForStarted(10000))
        return FailWithLogs(
            QStringLiteral("cannot run %1: %2").arg(environment.ServerScript(), server->errorString()));
    serverPid = server->processId();
    return true;
}

bool TestBroker::WaitUntilReady(int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    auto left = [&] { return timeoutMs - static_cast<int>(clock.elapsed()); };
    // await_startup gives up at once while the node has not yet registered with epmd, and then waits for the
    // boot to finish; the AMQP 1.0 header check then proves the plugin answers on our port.
    while (left() > 0) {
        if (!server->IsRunning())
            return FailWithLogs(
                QStringLiteral("the broker exited during start-up (exit code %1)").arg(server->exitCode()));
        // In short steps, so that a node which dies during boot is noticed between them.
        const int seconds = std::max(1, std::min(5, left() / 1000));
        if (Ctl({QStringLiteral("await_startup"), QStringLiteral("--timeout"), QString::number(seconds)},
                seconds * 1000 + 10000)
                .ok &&
            Loopback::AnswersAmqp10(ports.amqp, 5000))
            return true;
        Pause(250);
    }
    return FailWithLogs(
        QStringLiteral("the broker did not accept AMQP 1.0 connections within %1 ms").arg(timeoutMs));
}

bool TestBroker::Stop(int timeoutMs)
{
    failure.clear();
    if (!IsRunning())
        return true;
    QElapsedTimer clock;
    clock.start();
    const CtlResult stopped = Ctl({QStringLiteral("stop")}, timeoutMs);
    const int left = std::max(1000, timeoutMs - static_cast<int>(clock.elapsed()));
    if (server->waitForFinished(left))
        return true;
    server->End(5000);
    return FailWithLogs(
        QStringLiteral("the broker did not stop within %1 ms and was killed; rabbitmqctl stop said: %2")
            .arg(timeoutMs)
            .arg(stopped.output));
}

bool TestBroker::Kill()
{
    if (!IsRunning())
        return true;
    server->kill();
    return server->waitForFinished(10000);
}

bool TestBroker::IsRunning() const
{
    return server && server->IsRunning();
}

QString TestBroker::Url() const
{
    return QStringLiteral("amqp://127.0.0.1:%1").arg(ports.amqp);
}

QString TestBroker::Url(const QString& user, const QString& password) const
{
    return QStringLiteral("amqp://%1:%2@127.0.0.1:%3")
        .arg(QString::fromLatin1(QUrl::toPercentEncoding(user)),
             QString::fromLatin1(QUrl::toPercentEncoding(password)))
        .arg(ports.amqp);
}

bool TestBroker::AddUser(const QString& user, const QString& password)
{
    const CtlResult added = Ctl({QStringLiteral("add_user"), user, password});
    if (!added.ok)
        return Fail(added.output);
    const CtlResult allowed =
        Ctl({QStringLiteral("set_permissions"), QStringLiteral("-p"), QStringLiteral("/"), user,
             QStringLiteral(".*"), QStringLiteral(".*"), QStringLiteral(".*")});
    return allowed.ok || Fail(allowed.output);
}

bool TestBroker::DeclareQueue(const QString& name)
{
    // The AMQP 1.0 plugin declares the queue behind /queue/<name> itself, but with whatever durability the
    // link's terminus asks for, and Proton's default terminus is not durable. Declared here, the queue is
    // durable whoever comes first, and a client asking for a non-durable one is refused instead.
    // The broker's metadata log is written behind the declaration, so a kill soon after could take the queue
    // (and every message accepted into it) with it; syncing the log makes the declaration as lasting as the
    // messages.
    const QString expression =
        QStringLiteral(
            "case rabbit_amqqueue:declare(rabbit_misc:r(<<\"/\">>, queue, %1), true, false, [], none, "
            "<<\"pxltest\">>) of {new, _} -> mnesia:sync_log(); {existing, _} -> mnesia:sync_log(); "
            "Other -> Other end.")
            .arg(ErlangBinary(name));
    const CtlResult declared = Ctl({QStringLiteral("eval"), expression});
    if (!declared.ok || !declared.output.trimmed().endsWith(QLatin1String("ok")))
        return Fail(QStringLiteral("declaring queue %1 failed: %2").arg(name, declared.output));
    const std::optional<QueueState> state = Queue(name);
    if (!state)
        return Fail(QStringLiteral("queue %1 is not listed after declaring it").arg(name));
    return state->durable || Fail(QStringLiteral("queue %1 exists but is not durable").arg(name));
}

std::optional<QueueState> TestBroker::Queue(const QString& name)
{
    const CtlResult listed =
        Ctl({QStringLiteral("list_queues"), QStringLiteral("--quiet"), QStringLiteral("--formatter"),
             QStringLiteral("json"), QStringLiteral("name"), QStringLiteral("durable"),
             QStringLiteral("messages")});
    if (!listed.ok) {
        Fail(listed.output);
        return std::nullopt;
    }
    const QJsonArray queues = QJsonDocument::fromJson(listed.output.toUtf8()).array();
    for (const QJsonValue& entry : queues) {
        const QJsonObject queue = entry.toObject();
        if (queue.value(QStringLiteral("name")).toString() == name)
            return QueueState{queue.value(QStringLiteral("durable")).toBool(),
                              static_cast<qint64>(queue.value(QStringLiteral("messages")).toDouble())};
    }
    return std::nullopt;
}

qint64 TestBroker::QueueDepth(const QString& name)
{
    const std::optional<QueueState> state = Queue(name);
    return state ? state->messages : -1;
}

CtlResult TestBroker::Ctl(const QStringList& arguments, int timeoutMs)
{
    return RabbitCtl(environment.CtlScript(), environment.Environment(), environment.Folder())
        .Run(arguments, timeoutMs);
}

QString TestBroker::LogTail(int lines) const
{
    QStringList tail;
    tail << QStringLiteral("--- %1").arg(environment.ServerOutputFile())
         << LastLines(environment.ServerOutputFile(), lines);
    tail << QStringLiteral("--- %1").arg(environment.NodeLogFile())
         << LastLines(environment.NodeLogFile(), lines);
    return tail.join(QLatin1Char('\n'));
}

bool TestBroker::Fail(const QString& reason)
{
    failure = reason;
    return false;
}

bool TestBroker::FailWithLogs(const QString& reason)
{
    failure = reason + QLatin1Char('\n') + LogTail(30);
    return false;
}

void TestBroker::SweepLeftovers()
{
    // Helpers the VM started (erl_child_setup, inet_gethost) normally go with it; anything still carrying our
    // marker is ours alone, so it is safe to end by pid.
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        const std::vector<qint64> left = ProcessScan::WithEnvironmentEntry(environment.Marker());
        if (left.empty() || clock.elapsed() > 10000)
            return;
        for (const qint64 pid : left)
            ::kill(static_cast<pid_t>(pid), SIGKILL);
        Pause(50);
    }
}
