// SPDX-License-Identifier: GPL-3.0-or-later
// The program shell: start-up to the visible window, and the ways it ends.
#include "WindowHarness.h"
#include "app/ProgramShell.h"

#include "adapter/Delay.h"
#include "net/IdException.h"
#include "net/IdStack.h"

#include <QApplication>
#include <QFileInfo>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <string>
#include <vector>

namespace {

// Runs the program's own start-up, loop and shutdown; then, once the window is up, calls act on it.
int RunProgramAnd(const std::function<void(TForm1&)>& act) {
    auto* poll = new QTimer(QCoreApplication::instance());
    QObject::connect(poll, &QTimer::timeout, [poll, act] {
        if (Form1 != nullptr && Form1->isVisible()) {
            poll->stop();
            poll->deleteLater();
            act(*Form1);
        }
    });
    poll->start(10);
    return RunProgram();
}

class Shell : public ::testing::Test {
  protected:
    void SetUp() override {
        SetMessageBoxHook([this](const BoxRecord& box) { boxes.push_back(box); });
    }
    void TearDown() override { RecordNoBoxes(); }
    std::vector<BoxRecord> boxes;
};

TEST_F(Shell, ExitButtonEndsTheProgramWithStatusZero) {
    bool sawEndpointActive = false;
    const int status = RunProgramAnd([&](TForm1& form) {
        sawEndpointActive = form.IdUDPServer1->Active();
        EXPECT_EQ(form.pos(), QPoint(363, 197));
        QTest::mouseClick(form.Button7, Qt::LeftButton);
    });
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(sawEndpointActive);
    EXPECT_EQ(Form1, nullptr);
    EXPECT_TRUE(boxes.empty());
}

TEST_F(Shell, CloseBoxEndsTheProgramLikeTheExitButton) {
    const int status = RunProgramAnd([](TForm1& form) { EXPECT_TRUE(form.close()); });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(Form1, nullptr);
}

// A handler waiting in Delay when the window is closed runs to its end before the loop ends.
TEST_F(Shell, CloseDuringAWaitLetsTheWaitFinish) {
    std::vector<std::string> order;
    const int status = RunProgramAnd([&](TForm1& form) {
        // Due at once, so the wait's first dispatch presses it however slowly the machine runs; a
        // later timer can fall due only after a slow first dispatch has already used up the wait.
        QTimer::singleShot(0, &form, [&form, &order] {
            order.push_back("exit pressed");
            QTest::mouseClick(form.Button7, Qt::LeftButton);
        });
        order.push_back("wait begins");
        Delay(400);
        order.push_back(Form1 != nullptr ? "wait ended, window alive" : "wait ended, window gone");
    });
    order.push_back("program ended");
    EXPECT_EQ(status, 0);
    EXPECT_EQ(order, (std::vector<std::string>{"wait begins", "exit pressed", "wait ended, window alive",
                                               "program ended"}));
}

TEST_F(Shell, ADisabledWindowRefusesTheCloseBox) {
    const int status = RunProgramAnd([](TForm1& form) {
        form.setEnabled(false);
        EXPECT_FALSE(form.close());
        EXPECT_TRUE(form.isVisible());
        form.setEnabled(true);
        EXPECT_TRUE(form.close());
    });
    EXPECT_EQ(status, 0);
}

// A socket library that cannot be loaded or started (on Windows; here the layer's start-up is made to
// fail): the window is never built, the Application Error report names the exception and its message,
// and the program ends with status 1. Each case is a fresh start, as the failure is not remembered.
TEST_F(Shell, ASocketLayerThatCannotStartEndsTheProgramWithTheApplicationError) {
    struct Case {
        std::function<void()> fail;
        QString report; // after "Exception "
    };
    const QString module = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    const std::string missing = "Error on loading Winsock2 library (WS2_32.DLL): The specified module could "
                                "not be found.";
    const std::string tooEarly = "Error on call Winsock2 library function WSAStartup: Either the application "
                                 "has not called WSAStartup, or WSAStartup failed";
    const QString at = " in module " + module + " at 00000000.\r\n";
    const std::vector<Case> cases = {
        {[] { throw EIdStackInitializationFailed(); },
         "EIdStackInitializationFailed" + at + "Winsock Initialization Error.\r\n"},
        {[&] { throw EIdWS2StubError(missing, 126); },
         "EIdWS2StubError" + at + QString::fromStdString(missing) + "\r\n"},
        // A system text without a full stop gets one.
        {[&] { throw EIdWS2StubError(tooEarly, 10093); },
         "EIdWS2StubError" + at + QString::fromStdString(tooEarly) + ".\r\n"},
    };
    for (const Case& c : cases) {
        boxes.clear();
        const TIdStackFactory platform = SetStackFactory([&c]() -> std::unique_ptr<TIdStack> {
            c.fail();
            return nullptr;
        });
        const int status = RunProgram();
        SetStackFactory(platform);
        EXPECT_EQ(status, 1);
        EXPECT_EQ(Form1, nullptr);
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].kind, BoxKind::ApplicationError);
        EXPECT_EQ(boxes[0].caption, "Application Error");
        EXPECT_EQ(boxes[0].text, "Exception " + c.report);
    }
    // The layer starts again as soon as the library does.
    const int status = RunProgramAnd([](TForm1& form) { EXPECT_TRUE(form.close()); });
    EXPECT_EQ(status, 0);
}

} // namespace
