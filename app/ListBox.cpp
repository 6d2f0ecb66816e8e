// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/ListBox.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QStyledItemDelegate>

namespace {

// Rows keep the designed height whatever the face's line height.
class FixedRowHeight : public QStyledItemDelegate {
  public:
    FixedRowHeight(int height, QObject* parent) : QStyledItemDelegate(parent), FHeight(height) {}
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        return {QStyledItemDelegate::sizeHint(option, index).width(), FHeight};
    }

  private:
    int FHeight;
};

} // namespace

TListBox::TListBox(int itemHeight, QWidget* parent) : QListWidget(parent) {
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSortingEnabled(false);
    setUniformItemSizes(true);
    setItemDelegate(new FixedRowHeight(itemHeight, this));
    // The window reads and writes the device at the current row. Ctrl+click or Ctrl+Space on it would
    // take its highlight away (and taking the focus by Tab makes a row current without one), so the
    // user would see no device selected while the window still works on that one: whatever row is
    // current stays highlighted.
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { KeepCurrentSelected(); });
    connect(selectionModel(), &QItemSelectionModel::currentChanged, this, [this] { KeepCurrentSelected(); });
}

void TListBox::KeepCurrentSelected() {
    const QModelIndex current = currentIndex();
    if (current.isValid() && !selectionModel()->isSelected(current)) {
        selectionModel()->select(current, QItemSelectionModel::ClearAndSelect);
    }
}

void TListBox::mousePressEvent(QMouseEvent* event) {
    QListWidget::mousePressEvent(event);
    if (event->button() == Qt::LeftButton && itemAt(event->position().toPoint()) != nullptr) {
        FireClick();
    }
}

void TListBox::mouseMoveEvent(QMouseEvent* event) {
    const int before = currentRow();
    QListWidget::mouseMoveEvent(event);
    if ((event->buttons() & Qt::LeftButton) && currentRow() != before && currentRow() >= 0) {
        FireClick();
    }
}

void TListBox::keyPressEvent(QKeyEvent* event) {
    const int before = currentRow();
    QListWidget::keyPressEvent(event);
    if (currentRow() != before && currentRow() >= 0) {
        FireClick();
    }
}

void TListBox::FireClick() {
    if (OnClick) {
        OnClick();
    }
}
