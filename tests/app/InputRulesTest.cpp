// SPDX-License-Identifier: GPL-3.0-or-later
// What the user can type into the seventeen address and port edits, and what stays when the focus
// leaves them. Real key and mouse events throughout.
#include "WindowHarness.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <string>

namespace {

const QString DigitsOnly = QString::fromUtf8("请注意！您必须输入数字！");

class InputRules : public WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        ShowActive();
    }
    QLineEdit& Edit(const char* name) { return *form->findChild<QLineEdit*>(name); }
    // Types text into the edit as the user would, starting with a click into it.
    void TypeInto(QLineEdit& edit, const char* keys) {
        ClickInto(edit);
        QTest::keyClicks(&edit, keys);
    }
    void ExpectDigitWarnings(std::size_t count) {
        ASSERT_EQ(boxes.size(), count);
        for (const BoxRecord& box : boxes) {
            EXPECT_EQ(box.kind, BoxKind::Warning);
            EXPECT_EQ(box.caption, QString::fromUtf8("警告"));
            EXPECT_EQ(box.text, DigitsOnly);
        }
    }
};

TEST_F(InputRules, FullStopIsSwallowedSilently) {
    for (const char* name : {"IP1", "ym2", "wg3", "YCIP4", "post"}) {
        QLineEdit& edit = Edit(name);
        TypeInto(edit, "1.2");
        EXPECT_EQ(edit.text(), "12") << name;
        EXPECT_EQ(QApplication::focusWidget(), &edit) << name;
    }
    EXPECT_TRUE(boxes.empty());
}

TEST_F(InputRules, EveryOtherCharacterGivesOneBoxAndIsDropped) {
    TypeInto(*form->IP3, "a 1b");
    EXPECT_EQ(form->IP3->text(), "1");
    ExpectDigitWarnings(3);

    window.ClearBoxes();
    TypeInto(*form->post, "8-,+/");
    QTest::keyClick(form->post, Qt::Key_Escape);
    EXPECT_EQ(form->post->text(), "8");
    ExpectDigitWarnings(5);
}

TEST_F(InputRules, EditingShortcutsActAsTheirCharacters) {
    QApplication::clipboard()->setText("77");
    TypeInto(*form->IP2, "12");
    form->IP2->selectAll();
    QTest::keyClick(form->IP2, Qt::Key_C, Qt::ControlModifier);
    QTest::keyClick(form->IP2, Qt::Key_X, Qt::ControlModifier);
    QTest::keyClick(form->IP2, Qt::Key_V, Qt::ControlModifier);
    ExpectDigitWarnings(3);
    EXPECT_EQ(form->IP2->text(), "12");
    EXPECT_EQ(QApplication::clipboard()->text(), "77");

    window.ClearBoxes();
    TypeInto(*form->post, "5");
    QTest::keyClick(form->post, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(form->post->text(), "5");
    ExpectDigitWarnings(1);
}

// What an input method commits arrives without key presses; the rule still sees every character.
TEST_F(InputRules, CommittedTextMeetsTheKeyRuleCharacterByCharacter) {
    const auto commit = [](QLineEdit& edit, const QString& text, const QString& composing = {}) {
        QInputMethodEvent event(composing, {});
        event.setCommitString(text);
        QApplication::sendEvent(&edit, &event);
    };
    ClickInto(*form->IP1);
    commit(*form->IP1, QString::fromUtf8("中"));
    commit(*form->IP1, QString::fromUtf8("１")); // a full-width digit is no digit here
    commit(*form->IP1, QString::fromUtf8("。"));
    commit(*form->IP1, QString::fromUtf8("\U00020000")); // one character, two UTF-16 units
    EXPECT_EQ(form->IP1->text(), "");
    ExpectDigitWarnings(4);

    // Digits pass, an ASCII full stop goes silently, each other character gives its own box.
    window.ClearBoxes();
    ClickInto(*form->post);
    commit(*form->post, QString::fromUtf8("1中2。3."));
    EXPECT_EQ(form->post->text(), "123");
    ExpectDigitWarnings(2);

    // Digits alone, and a composition that commits nothing yet, pass without a box.
    window.ClearBoxes();
    commit(*form->post, "45");
    commit(*form->post, {}, "zhong");
    EXPECT_EQ(form->post->text(), "12345");
    EXPECT_TRUE(boxes.empty());
}

TEST_F(InputRules, CtrlHIsBackspaceAndAltLetterTypesNothing) {
    TypeInto(*form->post, "123");
    QTest::keyClick(form->post, Qt::Key_H, Qt::ControlModifier);
    EXPECT_EQ(form->post->text(), "12");
    TypeInto(*form->IP2, "45");
    form->IP2->selectAll();
    QTest::keyClick(form->IP2, Qt::Key_H, Qt::ControlModifier);
    EXPECT_EQ(form->IP2->text(), "");
    EXPECT_TRUE(boxes.empty());

    TypeInto(*form->ym3, "7");
    QTest::keyClick(form->ym3, Qt::Key_A, Qt::AltModifier);
    QTest::keyClick(form->ym3, Qt::Key_X, Qt::AltModifier | Qt::ShiftModifier);
    QTest::keyClick(form->ym3, Qt::Key_H, Qt::AltModifier);
    EXPECT_EQ(form->ym3->text(), "7");
    EXPECT_EQ(QApplication::focusWidget(), form->ym3);
    EXPECT_TRUE(boxes.empty());
}

TEST_F(InputRules, BackspaceEnterAndCtrlEnterPass) {
    TypeInto(*form->post, "123");
    QTest::keyClick(form->post, Qt::Key_Backspace);
    QTest::keyClick(form->post, Qt::Key_Return);
    QTest::keyClick(form->post, Qt::Key_Return, Qt::ControlModifier);
    QTest::keyClick(form->post, Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(form->post->text(), "12");
    EXPECT_EQ(QApplication::focusWidget(), form->post);
    EXPECT_TRUE(boxes.empty());
}

TEST_F(InputRules, OctetsTakeThreeDigitsThePortAny) {
    TypeInto(*form->wg2, "1234");
    EXPECT_EQ(form->wg2->text(), "123");
    TypeInto(*form->post, "1234567");
    EXPECT_EQ(form->post->text(), "1234567");
    EXPECT_TRUE(boxes.empty());
}

struct ExitRow {
    const char* edit;
    const char* typed;
    const char* kept;
};

class ExitChecks : public InputRules, public ::testing::WithParamInterface<ExitRow> {};

TEST_P(ExitChecks, LeavingTheEditKeepsOnlyItsRange) {
    const ExitRow& row = GetParam();
    QLineEdit& edit = Edit(row.edit);
    TypeInto(edit, row.typed);
    ASSERT_EQ(edit.text(), row.typed);
    QTest::keyClick(&edit, Qt::Key_Tab);
    EXPECT_NE(QApplication::focusWidget(), &edit);
    EXPECT_EQ(edit.text(), row.kept);
    EXPECT_TRUE(boxes.empty());
}

INSTANTIATE_TEST_SUITE_P(FirstAndLastDeviceOctet, ExitChecks,
                         ::testing::Values(ExitRow{"IP1", "", ""}, ExitRow{"IP1", "0", ""},
                                           ExitRow{"IP1", "1", "1"}, ExitRow{"IP1", "254", "254"},
                                           ExitRow{"IP1", "255", ""}, ExitRow{"IP1", "999", ""},
                                           ExitRow{"IP1", "007", "007"}, ExitRow{"IP4", "0", ""},
                                           ExitRow{"IP4", "000", ""}, ExitRow{"IP4", "1", "1"},
                                           ExitRow{"IP4", "254", "254"}, ExitRow{"IP4", "256", ""}));

INSTANTIATE_TEST_SUITE_P(OtherOctets, ExitChecks,
                         ::testing::Values(ExitRow{"IP2", "0", "0"}, ExitRow{"IP2", "255", "255"},
                                           ExitRow{"IP2", "256", ""}, ExitRow{"IP3", "999", ""},
                                           ExitRow{"ym1", "", ""}, ExitRow{"ym1", "000", "000"},
                                           ExitRow{"ym4", "255", "255"}, ExitRow{"wg2", "256", ""},
                                           ExitRow{"wg4", "1", "1"}, ExitRow{"YCIP1", "0", "0"},
                                           ExitRow{"YCIP4", "999", ""}, ExitRow{"YCIP3", "099", "099"},
                                           ExitRow{"post", "99999", "99999"}));

TEST_F(InputRules, ButtonClickRunsTheExitCheckFirst) {
    TypeInto(*form->IP1, "999");
    QString seenByButton = "not clicked";
    QObject::connect(form->Button7, &QPushButton::clicked, [&] { seenByButton = form->IP1->text(); });
    QTest::mouseClick(form->Button7, Qt::LeftButton);
    EXPECT_EQ(seenByButton, "");
    EXPECT_TRUE(boxes.empty());
}

TEST_F(InputRules, LosingTheWindowIsNotLeavingTheEdit) {
    TypeInto(*form->IP1, "999");
    QWidget other;
    other.show();
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    EXPECT_EQ(form->IP1->text(), "999");

    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form));
    EXPECT_EQ(QApplication::focusWidget(), form->IP1);
    QTest::keyClick(form->IP1, Qt::Key_Tab);
    EXPECT_EQ(form->IP1->text(), "");
}

TEST_F(InputRules, PastedNonNumberIsReportedAndKept) {
    QApplication::clipboard()->setText("4x");
    ClickInto(*form->ym2);
    QTest::keyClick(form->ym2, Qt::Key_Insert, Qt::ShiftModifier);
    ASSERT_EQ(form->ym2->text(), "4x");
    ASSERT_TRUE(boxes.empty());
    QTest::keyClick(form->ym2, Qt::Key_Tab);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].kind, BoxKind::ErrorReport);
    EXPECT_EQ(boxes[0].text, "'4x' is not a valid integer value.");
    EXPECT_EQ(form->ym2->text(), "4x");
    EXPECT_EQ(QApplication::focusWidget(), form->ym3);
}

TEST_F(InputRules, RightClickFocusesTheEditAndShowsNoMenu) {
    TypeInto(*form->IP4, "0");
    for (const char* name : {"ym3", "post", "IP2"}) {
        QLineEdit& edit = Edit(name);
        const QPoint inside = edit.rect().center();
        QTest::mouseClick(&edit, Qt::RightButton, Qt::NoModifier, inside);
        // The window system follows the right click with the context menu request.
        QContextMenuEvent request(QContextMenuEvent::Mouse, inside, edit.mapToGlobal(inside));
        QApplication::sendEvent(&edit, &request);
        EXPECT_TRUE(QTest::qWaitFor([&] { return QApplication::focusWidget() == &edit; }, 2000)) << name;
        EXPECT_EQ(QApplication::activePopupWidget(), nullptr) << name;
    }
    EXPECT_EQ(form->IP4->text(), ""); // its exit check ran when the right click took the focus

    // The keyboard's menu key: the same empty menu.
    QContextMenuEvent menuKey(QContextMenuEvent::Keyboard, QPoint(1, 1),
                              form->IP2->mapToGlobal(QPoint(1, 1)));
    QApplication::sendEvent(form->IP2, &menuKey);
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
    EXPECT_TRUE(boxes.empty());
}

TEST_F(InputRules, ValuesWrittenFromCodeStayUntilTheUserLeavesTheEdit) {
    form->IP1->setText("0");
    form->ym1->setText("999");
    form->post->setText("70000");
    form->IP4->setText("255");
    form->Button2->setFocus(Qt::OtherFocusReason);
    EXPECT_EQ(form->IP1->text(), "0");
    EXPECT_EQ(form->ym1->text(), "999");
    EXPECT_EQ(form->post->text(), "70000");

    ClickInto(*form->IP1);
    QTest::keyClick(form->IP1, Qt::Key_Tab); // into IP2
    EXPECT_EQ(form->IP1->text(), "");
    EXPECT_EQ(form->ym1->text(), "999");
    EXPECT_EQ(form->IP4->text(), "255");
    EXPECT_EQ(form->post->text(), "70000");
    EXPECT_TRUE(boxes.empty());
}

} // namespace
