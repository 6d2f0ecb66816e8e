// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol/HexCodec.h"

#include "ByteRows.h"

#include <gtest/gtest.h>

#include <random>

namespace {

template <typename Row> std::string RowName(const testing::TestParamInfo<Row>& info) {
    return info.param.name;
}

// --- HexToBytes: the tolerant pairing ---------------------------------------------------------------

struct HexToBytesRow {
    const char* name;
    std::string text;
    std::string bytes;
};

class HexToBytesTable : public testing::TestWithParam<HexToBytesRow> {};

TEST_P(HexToBytesTable, Reads) {
    EXPECT_EQ(HexToBytes(GetParam().text), GetParam().bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, HexToBytesTable,
    testing::Values(HexToBytesRow{"PairsFromTheLeft", "0AFFFFFFFF", Bytes({0x0A, 0xFF, 0xFF, 0xFF, 0xFF})},
                    HexToBytesRow{"LowerCaseAndBlankBetweenPairs", "0a ff", Bytes({0x0A, 0xFF})},
                    HexToBytesRow{"OddRunEndsInSingleDigitByte", "ABC", Bytes({0xAB, 0x0C})},
                    HexToBytesRow{"SingleDigitsAroundSeparator", "1-2", Bytes({0x01, 0x02})},
                    HexToBytesRow{"SingleDigitBeforeBlankThenPair", "A BC", Bytes({0x0A, 0xBC})},
                    HexToBytesRow{"OddRunNeverStartsWithSingle", "12345", Bytes({0x12, 0x34, 0x05})},
                    HexToBytesRow{"ScanRequestIsFiveZeros", "0000000000", Bytes({0, 0, 0, 0, 0})},
                    HexToBytesRow{"TrailingBlanksIgnored", "AB  ", Bytes({0xAB})},
                    HexToBytesRow{"LeadingNonDigitsSkipped", "--1a--", Bytes({0x1A})},
                    HexToBytesRow{"LoneDigitIsOneByte", "F", Bytes({0x0F})},
                    HexToBytesRow{"NonHexLetterSplitsLikeBlank", "1G2", Bytes({0x01, 0x02})},
                    HexToBytesRow{"NoDigitsGivesNothing", "xyz -", ""},
                    HexToBytesRow{"EmptyGivesNothing", "", ""}),
    RowName<HexToBytesRow>);

// --- HexToInt: leading digits, the 0FFFFFFF stop ---------------------------------------------------

struct HexToIntRow {
    const char* name;
    std::string text;
    int32_t value;
};

class HexToIntTable : public testing::TestWithParam<HexToIntRow> {};

TEST_P(HexToIntTable, Reads) {
    EXPECT_EQ(HexToInt(GetParam().text), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, HexToIntTable,
    testing::Values(HexToIntRow{"UpperCase", "1A", 26}, HexToIntRow{"LowerCase", "ff", 255},
                    HexToIntRow{"FourDigits", "0A0A", 2570}, HexToIntRow{"StopsAtNonDigit", "1G", 1},
                    HexToIntRow{"NonDigitFirstIsZero", "G1", 0}, HexToIntRow{"EmptyIsZero", "", 0},
                    HexToIntRow{"LeadingBlankNotSkipped", " 1", 0},
                    HexToIntRow{"LargestPositive", "7FFFFFFF", 0x7FFFFFFF},
                    HexToIntRow{"EightDigitsFrom80000000AreNegative", "80000000", INT32_MIN},
                    HexToIntRow{"AllOnesIsMinusOne", "FFFFFFFF", -1},
                    HexToIntRow{"NinthDigitIgnoredAbove0FFFFFFF", "123456789", 0x12345678},
                    HexToIntRow{"StopAtExactly10000000", "100000000", 0x10000000},
                    HexToIntRow{"0FFFFFFFStillTakesOneMoreDigit", "0FFFFFFFF", -1},
                    HexToIntRow{"LeadingZerosDoNotCount", "000000000012", 0x12}),
    RowName<HexToIntRow>);

// --- BytesToHex -------------------------------------------------------------------------------------

TEST(BytesToHex, WritesTwoUpperCaseDigitsPerByte) {
    EXPECT_EQ(BytesToHex(""), "");
    EXPECT_EQ(BytesToHex(Bytes({0})), "00");
    EXPECT_EQ(BytesToHex(Bytes({0x00, 0xAB, 0x0F})), "00AB0F");
    EXPECT_EQ(BytesToHex(Bytes({0xFF, 0xCD, 0xE9})), "FFCDE9");
}

TEST(BytesToHex, HexToBytesRestoresEveryRandomByteString) {
    std::mt19937 rng(20240611);
    std::uniform_int_distribution<int> length(0, 80);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int round = 0; round < 2000; ++round) {
        std::string b(static_cast<size_t>(length(rng)), '\0');
        for (char& c : b)
            c = static_cast<char>(byte(rng));
        const std::string hex = BytesToHex(b);
        ASSERT_EQ(hex.size(), 2 * b.size());
        ASSERT_EQ(hex.find_first_not_of("0123456789ABCDEF"), std::string::npos) << hex;
        ASSERT_EQ(HexToBytes(hex), b) << hex;
    }
}

// --- TakeLeft / TakeRight clamp --------------------------------------------------------------------

TEST(TakeLeftRight, CutFromTheirEnd) {
    EXPECT_EQ(TakeLeft("abcdef", 2), "ab");
    EXPECT_EQ(TakeRight("abcdef", 2), "ef");
}

TEST(TakeLeftRight, ClampToTheText) {
    EXPECT_EQ(TakeLeft("abc", 0), "");
    EXPECT_EQ(TakeRight("abc", 0), "");
    EXPECT_EQ(TakeRight("x", 2), "x");
    EXPECT_EQ(TakeLeft("", 2), "");
    EXPECT_EQ(TakeRight("", 2), "");
    const std::string record(120, '7');
    EXPECT_EQ(TakeLeft(record, 512), record);
    EXPECT_EQ(TakeRight(record, 65535), record);
}

// --- SwapBytes16: low 16 bits only ------------------------------------------------------------------

TEST(SwapBytes16, SwapsTheLow16Bits) {
    EXPECT_EQ(SwapBytes16(0x1F90), 0x901F);
    EXPECT_EQ(SwapBytes16(1), 256);
    EXPECT_EQ(SwapBytes16(0), 0);
    EXPECT_EQ(SwapBytes16(65535), 65535);
}

TEST(SwapBytes16, DropsEverythingAbove16Bits) {
    EXPECT_EQ(SwapBytes16(70000), 0x7011); // 11170 hex
    EXPECT_EQ(SwapBytes16(65536), 0);
    EXPECT_EQ(SwapBytes16(-1), 0xFFFF);
    EXPECT_EQ(SwapBytes16(0x12345678), 0x7856);
}

} // namespace
