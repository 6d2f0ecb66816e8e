// SPDX-License-Identifier: GPL-3.0-or-later
// Message texts of the exception family and the errno translation that makes POSIX failures read
// like Windows Sockets ones.
#include "net/IdException.h"
#include "net/IdStack.h"
#include "net/MemoryStream.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace {
struct TextRow {
    const char* name;
    int code;
    const char* message;
};

class SocketErrorMessage : public ::testing::TestWithParam<TextRow> {};

TEST_P(SocketErrorMessage, ReadsCodeLineBreakAndText) {
    EXPECT_EQ(SocketErrorText(GetParam().code), GetParam().message);
    const EIdSocketError error(GetParam().code);
    EXPECT_EQ(error.LastError(), GetParam().code);
    EXPECT_STREQ(error.what(), GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, SocketErrorMessage,
    ::testing::Values(
        TextRow{"FirstOfTable", 10004, "Socket Error # 10004\r\nInterrupted system call."},
        TextRow{"AddressInUse", 10048, "Socket Error # 10048\r\nAddress already in use."},
        TextRow{"MessageTooLong", 10040, "Socket Error # 10040\r\nMessage too long."},
        TextRow{"WouldBlockKeepsTrailingBlank", 10035, "Socket Error # 10035\r\nOperation would block. "},
        TextRow{"DirectoryNotEmptyHasNoStop", 10066, "Socket Error # 10066\r\nDirectory not empty"},
        TextRow{"HostNotFound", 11001, "Socket Error # 11001\r\nHost not found."},
        TextRow{"GapInTableIsUnknown", 10067, "Socket Error # 10067\r\n"},
        TextRow{"NotInitialisedIsUnknown", 10093, "Socket Error # 10093\r\n"},
        TextRow{"Zero", 0, "Socket Error # 0\r\n"}, TextRow{"Negative", -1, "Socket Error # -1\r\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FixedMessages, ReadExactly) {
    EXPECT_STREQ(EIdCouldNotBindSocket().what(),
                 "Could not bind socket. Address and port are already in use.");
    EXPECT_STREQ(EIdInvalidSocket().what(), "Cannot allocate socket.");
    EXPECT_STREQ(EIdPackageSizeTooBig().what(), "Package Size Too Big.");
    EXPECT_STREQ(EIdNotAllBytesSent().what(), "Not all bytes sent.");
    EXPECT_STREQ(EIdStackInitializationFailed().what(), "Winsock Initialization Error.");
    EXPECT_STREQ(EIdStackSetSizeExceeded().what(), "Set Size Exceeded.");
    // The handler boundary catches the base class.
    EXPECT_THROW(throw EIdCouldNotBindSocket(), EIdSocketHandleError);
    EXPECT_THROW(throw EIdStackSetSizeExceeded(), EIdException);
}

#ifndef _WIN32
// The Windows layer reads the codes from the library itself.
struct ErrnoRow {
    const char* name;
    int err;
    int wsa;
};

class ErrnoTranslation : public ::testing::TestWithParam<ErrnoRow> {};

TEST_P(ErrnoTranslation, GivesTheWindowsSocketsCode) {
    EXPECT_EQ(TIdStackPosix::TranslateErrno(GetParam().err), GetParam().wsa);
}

INSTANTIATE_TEST_SUITE_P(
    Errnos, ErrnoTranslation,
    ::testing::Values(
        ErrnoRow{"AddressInUse", EADDRINUSE, 10048}, ErrnoRow{"MessageTooLong", EMSGSIZE, 10040},
        ErrnoRow{"BroadcastNotAllowed", EACCES, 10013}, ErrnoRow{"InvalidArgument", EINVAL, 10022},
        ErrnoRow{"Interrupted", EINTR, 10004}, ErrnoRow{"WouldBlock", EAGAIN, 10035},
        ErrnoRow{"NotASocket", ENOTSOCK, 10038}, ErrnoRow{"CannotAssign", EADDRNOTAVAIL, 10049},
        ErrnoRow{"Unreachable", ENETUNREACH, 10051}, ErrnoRow{"NoBuffers", ENOBUFS, 10055},
        ErrnoRow{"Refused", ECONNREFUSED, 10061}, ErrnoRow{"NoRouteToHost", EHOSTUNREACH, 10065},
        ErrnoRow{"NoCounterpartKeepsRawCode", EDOM, EDOM}),
    [](const auto& info) { return std::string(info.param.name); });
#endif

TEST(DottedQuad, ParsesOnlyFourOctets) {
    uint8_t b[4];
    ASSERT_TRUE(ParseDottedQuad("255.255.255.255", b));
    EXPECT_EQ(b[0], 255);
    EXPECT_EQ(b[3], 255);
    ASSERT_TRUE(ParseDottedQuad("10.77.0.100", b));
    EXPECT_EQ(DottedQuad(b), "10.77.0.100");
    for (const char* bad :
         {"", "1.2.3", "1.2.3.4.5", "256.1.1.1", "1..2.3", "a.b.c.d", "1.2.3.-4", "1.2.3.4 "}) {
        EXPECT_FALSE(ParseDottedQuad(bad, b)) << bad;
    }
}

TEST(MemoryStream, ReadsFromThePositionOn) {
    TMemoryStream stream;
    stream.SetSize(4);
    for (int i = 0; i < 4; ++i) {
        stream.Memory()[i] = static_cast<uint8_t>('a' + i);
    }
    char two[2];
    EXPECT_EQ(stream.Read(two, 2), 2u);
    EXPECT_EQ(std::string(two, 2), "ab");
    EXPECT_EQ(stream.ReadAll(), "cd");
    EXPECT_EQ(stream.Read(two, 2), 0u);
    stream.SetSize(1); // position clamps to the new end
    EXPECT_EQ(stream.Position(), 1u);
    stream.SetPosition(0);
    EXPECT_EQ(stream.ReadAll(), "a");
}
} // namespace
