// The one reader of numbers in text, beside parseInteger (tests/sources/lsof).
#include "core/integers.h"

#include <gtest/gtest.h>

#include <QString>

#include <limits>

TEST(Integers, UnsignedDecimalHexAndPorts) {
    constexpr quint64 max = std::numeric_limits<quint64>::max();
    const struct {
        const char* text;
        std::optional<quint64> decimal;
        std::optional<quint64> hex;
        std::optional<qint64> port;
    } cases[] = {
        {"0", 0, 0, std::nullopt},
        {"1", 1, 1, 1},
        {"65535", 65535, 0x65535, 65535},
        {"65536", 65536, 0x65536, std::nullopt},
        {"+3000", std::nullopt, std::nullopt, 3000},
        {"-1", std::nullopt, std::nullopt, std::nullopt},
        {"0A", std::nullopt, 10, std::nullopt},
        {"ffffffffffffffff", std::nullopt, max, std::nullopt},
        {"10000000000000000", 10000000000000000ULL, std::nullopt, std::nullopt}, // 17 hex digits
        {"18446744073709551615", max, std::nullopt, std::nullopt},
        {"18446744073709551616", std::nullopt, std::nullopt, std::nullopt},
        {"", std::nullopt, std::nullopt, std::nullopt},
        {" 1", std::nullopt, std::nullopt, std::nullopt},
        {"1g", std::nullopt, std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(parseDecimal(QByteArrayView(c.text)), c.decimal);
        EXPECT_EQ(parseHex(QByteArrayView(c.text)), c.hex);
        EXPECT_EQ(parsePort(QString::fromLatin1(c.text)), c.port);
    }
}
