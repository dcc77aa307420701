#pragma once

#include <QByteArray>
#include <QString>

// Names the exact load a record was written with: the XXH3-64 of the load's checksum list beside the
// scatter file, as 16 lowercase hex digits; empty when there is no readable list.
QString LoadDigest(const QString& scatterPath);
// The same digest of a checksum list's bytes already read.
QString LoadDigestOf(const QByteArray& checksumList);
