// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/MessageBoxes.h"

#include "WindowHarness.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace {

std::vector<BoxRecord> RecordBoxes(const std::function<void()>& body) {
    std::vector<BoxRecord> boxes;
    SetMessageBoxHook([&](const BoxRecord& box) { boxes.push_back(box); });
    body();
    RecordNoBoxes();
    return boxes;
}

struct FullStopRow {
    const char* why;
    std::string message;
    QString shown;
};

class ErrorReportText : public ::testing::TestWithParam<FullStopRow> {};

TEST_P(ErrorReportText, FullStopOnlyAfterCharactersAboveIt) {
    const FullStopRow& row = GetParam();
    bool carriedOn = false;
    const auto boxes = RecordBoxes([&] {
        Guarded([&] { throw std::runtime_error(row.message); });
        carriedOn = true;
    });
    EXPECT_TRUE(carriedOn);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].kind, BoxKind::ErrorReport);
    EXPECT_EQ(boxes[0].text, row.shown);
    EXPECT_EQ(boxes[0].caption, ProgramTitle(QFileInfo(QCoreApplication::applicationFilePath()).fileName()));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ErrorReportText,
    ::testing::Values(FullStopRow{"EndsInLetter", "Not all bytes sent", "Not all bytes sent."},
                      FullStopRow{"EndsInFullStop", "Package Size Too Big.", "Package Size Too Big."},
                      FullStopRow{"Empty", "", ""},
                      FullStopRow{"EndsInQuote", "'x' is not a valid integer value'",
                                  "'x' is not a valid integer value'"},
                      FullStopRow{"EndsInSpace", "trailing ", "trailing "},
                      FullStopRow{"EndsInMinusBelowStop", "a-", "a-"},
                      FullStopRow{"EndsInSlashAboveStop", "a/", "a/."},
                      FullStopRow{"EndsInDigit", "Socket Error # 10048", "Socket Error # 10048."},
                      FullStopRow{"EndsInChinese", "设置失败", QString::fromUtf8("设置失败.")},
                      FullStopRow{"EndsInLineBreak", "Socket Error # 1\r\n", "Socket Error # 1\r\n"}),
    [](const auto& info) { return std::string(info.param.why); });

TEST(ErrorReport, NonStandardExceptionIsReportedToo) {
    const auto boxes = RecordBoxes([] { Guarded([] { throw 42; }); });
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].kind, BoxKind::ErrorReport);
}

TEST(ErrorReport, NothingShownWhenTheHandlerSucceeds) {
    int ran = 0;
    const auto boxes = RecordBoxes([&] { Guarded([&] { ++ran; }); });
    EXPECT_EQ(ran, 1);
    EXPECT_TRUE(boxes.empty());
}

TEST(ProgramTitle, CutAtFirstDotRestLowerCase) {
    EXPECT_EQ(ProgramTitle("PROJECT1.EXE"), "Project1");
    EXPECT_EQ(ProgramTitle("Project1"), "Project1");
    EXPECT_EQ(ProgramTitle("project1.exe"), "project1");
    EXPECT_EQ(ProgramTitle("My.Tool.exe"), "My");
    EXPECT_EQ(ProgramTitle("CONFIG"), "Config");
    EXPECT_EQ(ProgramTitle(""), "");
}

class EStartFailed : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

TEST(ApplicationError, NamesClassModuleAndMessage) {
    const QString module = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    const auto boxes = RecordBoxes([] {
        ShowApplicationError(EStartFailed("Winsock Initialization Error"));
        ShowApplicationError(EStartFailed("Already ends."));
    });
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].kind, BoxKind::ApplicationError);
    EXPECT_EQ(boxes[0].caption, "Application Error");
    const QString prefix = "Exception EStartFailed in module " + module + " at ";
    EXPECT_TRUE(boxes[0].text.startsWith(prefix)) << boxes[0].text.toStdString();
    EXPECT_TRUE(boxes[0].text.endsWith(".\r\nWinsock Initialization Error.\r\n"))
        << boxes[0].text.toStdString();
    EXPECT_TRUE(boxes[1].text.endsWith(".\r\nAlready ends.\r\n")) << boxes[1].text.toStdString();
}

} // namespace
