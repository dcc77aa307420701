#pragma once

#include <QDir>
#include <QDomDocument>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QVector>

// Runs a test inside a fresh, empty working folder and restores the previous one afterwards.
class ScopedWorkingFolder
{
public:
    ScopedWorkingFolder() : previous(QDir::currentPath()) { QDir::setCurrent(folder.path()); }
    ~ScopedWorkingFolder() { QDir::setCurrent(previous); }
    bool IsValid() const { return folder.isValid() && QDir::currentPath() != previous; }

private:
    QTemporaryDir folder;
    QString previous;
};

// The document as the engine receives it: UTF-8 bytes, read by a strict stream reader.
QDomDocument ReadBack(const QString& document);

// Names and texts of the arguments, after checking the frame every command document shares; empty when the
// frame is wrong.
QVector<QPair<QString, QString>> Arguments(const QString& document, const QString& command);

QString Argument(const QString& document, const QString& command, const QString& name);

// The buffer address a memory target names; 0 when the text is not a well-formed target of that length.
quintptr TargetAddress(const QString& target, quint64 expectedLength);

// The exact bytes of a command document, spelled out without the DOM serialiser.
QString Expected(const QString& command, const QStringList& argumentLines);

inline QString Native(const QString& path)
{
    return QDir::toNativeSeparators(path);
}
