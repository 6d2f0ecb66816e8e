// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol/ConvertError.h"

#include <gtest/gtest.h>

namespace {

struct AcceptedRow {
    const char* name;
    std::string text;
    int32_t value;
};

class StrToIntAccepts : public testing::TestWithParam<AcceptedRow> {};

TEST_P(StrToIntAccepts, Reads) {
    EXPECT_EQ(StrToInt(GetParam().text), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(Rows, StrToIntAccepts,
                         testing::Values(AcceptedRow{"Zero", "0", 0}, AcceptedRow{"Octet", "255", 255},
                                         AcceptedRow{"LeadingZeros", "007", 7},
                                         AcceptedRow{"PlusSign", "+8080", 8080},
                                         AcceptedRow{"MinusSign", "-1", -1},
                                         AcceptedRow{"LeadingBlanks", "  42", 42},
                                         AcceptedRow{"Int32Max", "2147483647", 2147483647},
                                         AcceptedRow{"Int32Min", "-2147483648", INT32_MIN},
                                         AcceptedRow{"ManyLeadingZeros", "0000000000000000000001", 1}),
                         [](const auto& info) { return std::string(info.param.name); });

struct RejectedRow {
    const char* name;
    std::string text;
};

class StrToIntRejects : public testing::TestWithParam<RejectedRow> {};

TEST_P(StrToIntRejects, WithTheTextInTheMessage) {
    const std::string& text = GetParam().text;
    try {
        StrToInt(text);
        ADD_FAILURE() << "accepted '" << text << "'";
    } catch (const EConvertError& e) {
        EXPECT_EQ(std::string(e.what()), "'" + text + "' is not a valid integer value");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, StrToIntRejects,
    testing::Values(RejectedRow{"Empty", ""}, RejectedRow{"OnlyBlanks", "   "}, RejectedRow{"OnlySign", "-"},
                    RejectedRow{"SignThenBlank", "+ 1"}, RejectedRow{"TrailingLetter", "12a"},
                    RejectedRow{"TrailingBlank", "1 "}, RejectedRow{"Decimal", "1.5"},
                    RejectedRow{"HexPrefix", "$FF"}, RejectedRow{"CPrefix", "0x10"},
                    RejectedRow{"AboveInt32Max", "2147483648"}, RejectedRow{"BelowInt32Min", "-2147483649"},
                    RejectedRow{"WayTooLong", "99999999999999999999999"}, RejectedRow{"Chinese", "端口"}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
