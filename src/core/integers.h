#pragma once

#include <QByteArrayView>
#include <QStringView>

#include <optional>

// The one place where numbers are read from text: settings, options, the
// kernel's files and the replies of other programs.

// Reads a decimal integer: one optional "+" or "-", then one or more digits,
// nothing else, and the value fits a signed 64-bit integer.
std::optional<qint64> parseInteger(QStringView text);

// A TCP port: a decimal integer as parseInteger() reads it, from 1 to 65535.
std::optional<qint64> parsePort(QStringView text);

// An unsigned number written in ASCII digits only, as the kernel and wire
// protocols write them: decimal, or hexadecimal in either case. None for an
// empty text, any other character, or a value beyond 64 bits.
std::optional<quint64> parseDecimal(QByteArrayView text);
std::optional<quint64> parseHex(QByteArrayView text);
