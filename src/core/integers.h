#pragma once

#include <QStringView>

#include <optional>

// Reads a decimal integer: one optional "+" or "-", then one or more digits,
// nothing else, and the value fits a signed 64-bit integer.
std::optional<qint64> parseInteger(QStringView text);
