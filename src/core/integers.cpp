#include "core/integers.h"

#include <limits>

std::optional<qint64> parseInteger(QStringView text) {
    qsizetype i = 0;
    bool negative = false;
    if (!text.isEmpty() && (text[0] == u'+' || text[0] == u'-')) {
        negative = text[0] == u'-';
        i = 1;
    }
    if (i == text.size())
        return std::nullopt;
    // Accumulate as a negative number so that the minimum value fits.
    constexpr qint64 min = std::numeric_limits<qint64>::min();
    qint64 value = 0;
    for (; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9')
            return std::nullopt;
        const int digit = c - u'0';
        if (value < (min + digit) / 10)
            return std::nullopt;
        value = value * 10 - digit;
    }
    if (negative)
        return value;
    if (value == min)
        return std::nullopt;
    return -value;
}

std::optional<qint64> parsePort(QStringView text) {
    const auto port = parseInteger(text);
    if (!port || *port < 1 || *port > 65535)
        return std::nullopt;
    return port;
}

std::optional<quint64> parseDecimal(QByteArrayView text) {
    if (text.isEmpty())
        return std::nullopt;
    constexpr quint64 max = std::numeric_limits<quint64>::max();
    quint64 value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        const quint64 digit = quint64(c - '0');
        if (value > (max - digit) / 10)
            return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

std::optional<quint64> parseHex(QByteArrayView text) {
    if (text.isEmpty())
        return std::nullopt;
    quint64 value = 0;
    for (const char c : text) {
        quint64 digit;
        if (c >= '0' && c <= '9')
            digit = quint64(c - '0');
        else if (c >= 'a' && c <= 'f')
            digit = quint64(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F')
            digit = quint64(c - 'A' + 10);
        else
            return std::nullopt;
        if (value >> 60 != 0)
            return std::nullopt;
        value = value << 4 | digit;
    }
    return value;
}
