#pragma once

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>

namespace FuzzSupport {

// Raw UTF-16 text can hold what no decoder produces: lone surrogates, NUL characters.
QString AsUtf16(const uint8_t* data, size_t size);

// Random bytes seldom form a document that gets past the reader, which leaves the parsers' own code
// unexplored. An input whose first byte is odd is therefore placed, without that byte, between prefix
// and suffix, which frame it as the inside of a well-formed document of the parser's kind; other inputs
// are taken as they are.
QByteArray Shape(const uint8_t* data, size_t size, const QByteArray& prefix, const QByteArray& suffix);

// Writes the input as fileName into a folder of this process that also holds a "flash.xsd", and returns
// the file's path.
QString WriteInput(const QByteArray& input, const QString& fileName);

} // namespace FuzzSupport
