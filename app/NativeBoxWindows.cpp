// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/NativeBox.h"

#include <windows.h>

#include <string>

void ShowNativeBox(const BoxRecord& box) {
    // The wide call: the narrow one would need the texts in the system's code page, and shows the
    // Chinese only where that page is GBK.
    const std::wstring caption = box.caption.toStdWString();
    const std::wstring text = box.text.toStdWString();
    UINT style = MB_OK;
    HWND owner = nullptr;
    switch (box.kind) {
    case BoxKind::Warning:
        owner = GetActiveWindow();
        break;
    case BoxKind::ErrorReport:
        style |= MB_ICONSTOP;
        owner = GetActiveWindow();
        break;
    case BoxKind::ApplicationError:
        style |= MB_ICONSTOP | MB_TASKMODAL;
        break;
    }
    // The box runs the thread's message loop while it is open, so Qt's timers and posted events (the
    // listener's deliveries among them) go on as they do under Qt's own box.
    MessageBoxW(owner, text.c_str(), caption.c_str(), style);
}
