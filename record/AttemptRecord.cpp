#include "record/AttemptRecord.h"

#include <QUuid>

QString AttemptRecord::NewId()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}
