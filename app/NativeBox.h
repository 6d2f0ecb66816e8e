// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The box itself, as the platform shows it: Windows' own message box there, Qt's elsewhere.
#include "app/MessageBoxes.h"

// Modal; a single OK button. The kind decides the rest: a warning has no icon and is owned by the
// active window; the error report has a stop icon and the same owner; the Application Error box has
// a stop icon, no owner, and holds the whole program until it is dismissed.
void ShowNativeBox(const BoxRecord& box);
