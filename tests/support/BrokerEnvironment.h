#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QtGlobal>

struct BrokerPorts
{
    quint16 amqp = 0;
    quint16 distribution = 0;
    quint16 epmd = 0;
};

// Where one private broker node keeps everything, and the environment that points the server scripts, the
// command-line tool and epmd at it instead of at the machine's own installation.
class BrokerEnvironment
{
public:
    BrokerEnvironment(const QString& folder, const QString& nodeName, const BrokerPorts& ports);

    // Writes the plugin list and configuration; false with Failure() when the folder cannot be written.
    bool Prepare();
    QString Failure() const { return failure; }

    QProcessEnvironment Environment() const;
    // Present in the environment of every process this node runs, so they can be found by it in /proc.
    QByteArray Marker() const;

    QString Folder() const { return folder; }
    QString NodeName() const { return nodeName; }
    QString ServerOutputFile() const;
    QString NodeLogFile() const;
    QString ServerScript() const;
    QString CtlScript() const;
    QString EpmdProgram() const;

private:
    QString Path(const QString& name) const;
    QString MarkerValue() const;

    QString folder;
    QString nodeName;
    BrokerPorts ports;
    QString failure;
};
