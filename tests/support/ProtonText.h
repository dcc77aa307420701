#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>
#include <QVariantMap>

#include <proton/message.hpp>
#include <proton/message_id.hpp>

// Turns the parts of a received Proton message into the Qt values tests compare against.
namespace ProtonText {

QByteArray Body(const proton::value& body);
QString MessageId(const proton::message_id& id);
QVariant Scalar(const proton::scalar& value);
QVariantMap Properties(const proton::message& message);

} // namespace ProtonText
