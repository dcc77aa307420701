#include "NewLogText.h"

#include "TestFiles.h"

#include <QFileInfo>

NewLogText::NewLogText(const QString& path) : path(path), offset(QFileInfo(path).size()) {}

QByteArray NewLogText::Read() const
{
    return TestFiles::ReadFile(path).mid(static_cast<int>(offset));
}
