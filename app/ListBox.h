// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The device list box: fixed row height, a current row that is always the highlighted one, and a
// click event that means "the user selected an entry".
#include <QListWidget>

#include <functional>

class TListBox : public QListWidget {
  public:
    TListBox(int itemHeight, QWidget* parent);

    // Raised by a mouse press on an entry (the current one included), a drag onto another entry, or
    // a key that moves the selection. Selecting from code, clearing and taking the focus by Tab
    // raise nothing.
    std::function<void()> OnClick;

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void FireClick();
    void KeepCurrentSelected();
};
