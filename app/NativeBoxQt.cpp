// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/NativeBox.h"

#include <QApplication>
#include <QMessageBox>

void ShowNativeBox(const BoxRecord& box) {
    const bool warning = box.kind == BoxKind::Warning;
    QWidget* const owner = box.kind == BoxKind::ApplicationError ? nullptr : QApplication::activeWindow();
    QMessageBox message(warning ? QMessageBox::NoIcon : QMessageBox::Critical, box.caption, box.text,
                        QMessageBox::Ok, owner);
    message.setWindowModality(warning ? Qt::WindowModal : Qt::ApplicationModal);
    message.exec();
}
