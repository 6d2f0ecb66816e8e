// SPDX-License-Identifier: GPL-3.0-or-later
// The input rules of the seventeen address and port edits: the key filter, the range checks when
// the focus leaves an octet edit, the click on a device IP octet and the empty context menu.
#include "app/Unit1.h"

#include "protocol/ConvertError.h"
#include "app/MessageBoxes.h"

#include <QApplication>
#include <QFocusEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>

namespace {

using Handler = void (TForm1::*)(QObject*);

struct EditRule {
    QLineEdit* TForm1::*edit;
    Handler onExit;  // nullptr: none
    Handler onClick; // nullptr: none
};
// Every edit's key press goes to IP1KeyPress; its context menu is PopupMenu1.
const EditRule EditRules[] = {
    {&TForm1::IP1, &TForm1::IP1Exit, &TForm1::Editclick},
    {&TForm1::IP2, &TForm1::IP2Exit, &TForm1::Editclick},
    {&TForm1::IP3, &TForm1::IP2Exit, &TForm1::Editclick},
    {&TForm1::IP4, &TForm1::IP1Exit, &TForm1::Editclick},
    {&TForm1::ym1, &TForm1::IP2Exit, nullptr},
    {&TForm1::ym2, &TForm1::IP2Exit, nullptr},
    {&TForm1::ym3, &TForm1::IP2Exit, nullptr},
    {&TForm1::ym4, &TForm1::IP2Exit, nullptr},
    {&TForm1::wg1, &TForm1::IP2Exit, nullptr},
    {&TForm1::wg2, &TForm1::IP2Exit, nullptr},
    {&TForm1::wg3, &TForm1::IP2Exit, nullptr},
    {&TForm1::wg4, &TForm1::IP2Exit, nullptr},
    {&TForm1::YCIP1, &TForm1::IP2Exit, nullptr},
    {&TForm1::YCIP2, &TForm1::IP2Exit, nullptr},
    {&TForm1::YCIP3, &TForm1::IP2Exit, nullptr},
    {&TForm1::YCIP4, &TForm1::IP2Exit, nullptr},
    {&TForm1::post, nullptr, nullptr},
};

const EditRule* RuleFor(TForm1& form, const QObject* watched) {
    for (const EditRule& rule : EditRules) {
        if (form.*rule.edit == watched) {
            return &rule;
        }
    }
    return nullptr;
}

// Text as the key rule sees it: one byte per character. A character outside one byte (a Chinese
// character, the full-width digit １ or full stop 。) cannot be a digit; it is rejected as one
// character, whatever its length in UTF-16.
QByteArray OneBytePerCharacter(const QString& text) {
    QByteArray bytes;
    for (const char32_t c : text.toUcs4()) {
        bytes += c < 0x100 ? static_cast<char>(c) : '?';
    }
    return bytes;
}

// The characters that a key press would type, one byte each, as the edit would receive them.
// Ctrl with a letter types that letter's control character (Ctrl+C is 3, Ctrl+V 22, Ctrl+X 24) before
// any editing shortcut could act; keys that type nothing (arrows, Delete, Tab, which moves the
// focus) give none.
QByteArray TypedCharacters(const QKeyEvent& event) {
    const int key = event.key();
    if (key == Qt::Key_Tab || key == Qt::Key_Backtab || key == Qt::Key_Delete) {
        return {};
    }
    const Qt::KeyboardModifiers mods = event.modifiers() & ~Qt::KeypadModifier;
    if ((mods & Qt::ControlModifier) && !(mods & (Qt::AltModifier | Qt::MetaModifier)) && key >= Qt::Key_A &&
        key <= Qt::Key_Z) {
        return QByteArray(1, static_cast<char>(key - Qt::Key_A + 1));
    }
    return OneBytePerCharacter(event.text());
}

bool IsControlLetter(const QKeyEvent& event) {
    return (event.modifiers() & Qt::ControlModifier) && event.key() >= Qt::Key_A && event.key() <= Qt::Key_Z;
}

// Alt without Ctrl makes a key a menu accelerator, which types nothing into an edit. (Ctrl+Alt is
// left alone: some keyboards type their third-level characters with it.)
bool IsAltAccelerator(const QKeyEvent& event) {
    return (event.modifiers() & (Qt::AltModifier | Qt::ControlModifier)) == Qt::AltModifier;
}

// Runs each character through the key rule, each rejected one with its own box; returns those that
// passed.
QByteArray KeptCharacters(TForm1& form, QLineEdit& edit, const QByteArray& typed) {
    QByteArray kept;
    for (char c : typed) {
        char key = c;
        Guarded([&] { form.IP1KeyPress(&edit, key); });
        if (key != 0) {
            kept += key;
        }
    }
    return kept;
}

QString DigitsOf(const QByteArray& characters) {
    QString digits;
    for (char c : characters) {
        if (c >= '0' && c <= '9') {
            digits += QLatin1Char(c);
        }
    }
    return digits;
}

// Text an input method commits bypasses the key events, so it meets the key rule here, character by
// character; only its digits reach the edit.
void FilterCommittedText(TForm1& form, QLineEdit& edit, QInputMethodEvent& event) {
    const QString committed = event.commitString();
    if (committed.isEmpty()) {
        return;
    }
    const QString digits = DigitsOf(KeptCharacters(form, edit, OneBytePerCharacter(committed)));
    if (digits != committed) {
        event.setCommitString(digits, event.replacementStart(), event.replacementLength());
    }
}

int32_t EditValue(const QLineEdit& edit) {
    return StrToInt(edit.text().toStdString());
}

} // namespace

void TForm1::WireEditRules() {
    for (const EditRule& rule : EditRules) {
        QLineEdit* edit = this->*rule.edit;
        edit->installEventFilter(this);
        connect(edit, &QWidget::customContextMenuRequested, this,
                [this, edit] { Guarded([&] { EditContextMenu(*edit); }); });
    }
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    const EditRule* rule = RuleFor(*this, watched);
    if (rule == nullptr) {
        return QWidget::eventFilter(watched, event);
    }
    QLineEdit& edit = *(this->*rule->edit);
    switch (event->type()) {
    case QEvent::ShortcutOverride:
        // Claim Ctrl+letter for the edit, so that it arrives as a key press and meets the filter
        // instead of an editing shortcut.
        if (IsControlLetter(static_cast<QKeyEvent&>(*event))) {
            event->accept();
            return true;
        }
        break;
    case QEvent::KeyPress:
        return FilterEditKey(edit, static_cast<QKeyEvent&>(*event));
    case QEvent::InputMethod:
        FilterCommittedText(*this, edit, static_cast<QInputMethodEvent&>(*event));
        break; // what is left of the commit goes on to the edit, with the composition as it was
    case QEvent::FocusOut:
        if (rule->onExit != nullptr) {
            EditFocusLeft(edit, static_cast<QFocusEvent&>(*event));
        }
        break;
    case QEvent::MouseButtonRelease:
        if (rule->onClick != nullptr && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
            Guarded([&] { (this->*rule->onClick)(&edit); });
        }
        break;
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

bool TForm1::FilterEditKey(QLineEdit& edit, QKeyEvent& event) {
    const QByteArray typed = TypedCharacters(event);
    if (typed.isEmpty()) {
        return false;
    }
    if (IsAltAccelerator(event)) {
        return true;
    }
    const QByteArray kept = KeptCharacters(*this, edit, typed);
    if (IsControlLetter(event)) {
        // The edit never sees a control letter, whose own meaning would be an editing shortcut; the
        // one that passes and edits is Ctrl+H, the backspace character. (Ctrl+J and Ctrl+M, line feed
        // and carriage return, change a single-line text no more than Enter does.)
        if (kept == "\b") {
            edit.backspace();
        }
        return true;
    }
    if (kept == typed) {
        return false; // the edit takes the key as it is
    }
    // Some of a multi-character key press survived: type only those.
    const QString digits = DigitsOf(kept);
    if (!digits.isEmpty()) {
        edit.insert(digits);
    }
    return true;
}

void TForm1::EditFocusLeft(QLineEdit& edit, const QFocusEvent& event) {
    // Only a move to another control of this window leaves the edit; the window losing activation
    // or a popup opening keeps the focus where it is.
    if (event.reason() == Qt::ActiveWindowFocusReason || event.reason() == Qt::PopupFocusReason) {
        return;
    }
    const QWidget* next = QApplication::focusWidget();
    if (next == nullptr || next == &edit || next->window() != this) {
        return;
    }
    const EditRule* rule = RuleFor(*this, &edit);
    Guarded([&] { (this->*rule->onExit)(&edit); });
}

void TForm1::EditContextMenu(QLineEdit& edit) {
    edit.setFocus(Qt::MouseFocusReason);
    // PopupMenu1 has no items: nothing is shown, and the edit's own menu never appears.
    if (!PopupMenu1->isEmpty()) {
        PopupMenu1->popup(QCursor::pos());
    }
}

void TForm1::IP1KeyPress(QObject* /*Sender*/, char& Key) {
    if (Key == '.') {
        Key = 0;
        return;
    }
    const bool digit = Key >= '0' && Key <= '9';
    if (digit || Key == '\b' || Key == '\n' || Key == '\r') {
        return;
    }
    ShowWarning(QString::fromUtf8("请注意！您必须输入数字！"));
    Key = 0;
}

void TForm1::IP1Exit(QObject* Sender) {
    auto* edit = qobject_cast<QLineEdit*>(Sender);
    if (edit == nullptr || edit->text().isEmpty()) {
        return;
    }
    const int32_t value = EditValue(*edit);
    if (value > 254 || value <= 0) {
        edit->clear();
    }
}

void TForm1::IP2Exit(QObject* Sender) {
    auto* edit = qobject_cast<QLineEdit*>(Sender);
    if (edit == nullptr || edit->text().isEmpty()) {
        return;
    }
    if (EditValue(*edit) > 255) {
        edit->clear();
    }
}

void TForm1::Editclick(QObject* Sender) {
    if (auto* edit = qobject_cast<QWidget*>(Sender)) {
        edit->setFocus(Qt::MouseFocusReason);
    }
}
