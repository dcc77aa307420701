#include "ProtonText.h"

#include <proton/binary.hpp>
#include <proton/codec/map.hpp>
#include <proton/scalar.hpp>
#include <proton/symbol.hpp>
#include <proton/types.hpp>

#include <map>
#include <string>

namespace ProtonText {

namespace {

QByteArray Bytes(const std::string& text)
{
    return QByteArray(text.data(), static_cast<int>(text.size()));
}

} // namespace

QByteArray Body(const proton::value& body)
{
    switch (body.type()) {
    case proton::BINARY: {
        const proton::binary bytes = proton::get<proton::binary>(body);
        return QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<int>(bytes.size()));
    }
    case proton::STRING:
        return Bytes(proton::get<std::string>(body));
    case proton::NULL_TYPE:
        return QByteArray();
    default:
        return Bytes(proton::to_string(body));
    }
}

QString MessageId(const proton::message_id& id)
{
    if (id.type() == proton::STRING)
        return QString::fromStdString(proton::get<std::string>(id));
    return id.empty() ? QString() : QString::fromStdString(proton::to_string(id));
}

QVariant Scalar(const proton::scalar& value)
{
    switch (value.type()) {
    case proton::STRING:
        return QString::fromStdString(proton::get<std::string>(value));
    case proton::SYMBOL:
        return QString::fromStdString(proton::get<proton::symbol>(value));
    case proton::BOOLEAN:
        return proton::get<bool>(value);
    case proton::BYTE:
    case proton::SHORT:
    case proton::INT:
    case proton::LONG:
        return static_cast<qlonglong>(proton::coerce<int64_t>(value));
    case proton::UBYTE:
    case proton::USHORT:
    case proton::UINT:
    case proton::ULONG:
        return static_cast<qulonglong>(proton::coerce<uint64_t>(value));
    case proton::FLOAT:
    case proton::DOUBLE:
        return proton::coerce<double>(value);
    case proton::BINARY: {
        const proton::binary bytes = proton::get<proton::binary>(value);
        return QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<int>(bytes.size()));
    }
    case proton::NULL_TYPE:
        return QVariant();
    default:
        return QString::fromStdString(proton::to_string(value));
    }
}

QVariantMap Properties(const proton::message& message)
{
    QVariantMap properties;
    if (message.properties().empty())
        return properties;
    std::map<std::string, proton::scalar> raw;
    proton::get(message.properties().value(), raw);
    for (const auto& entry : raw)
        properties.insert(QString::fromStdString(entry.first), Scalar(entry.second));
    return properties;
}

} // namespace ProtonText
