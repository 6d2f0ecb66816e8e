// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the one test main of the Qt suites offers their tests: a QApplication (offscreen) on the main
// thread, which is the main thread of the call queue, with the queue's Qt wake-up installed.

// Installs the wake-up afresh: running the program's own shell in-process removes it when the shell
// returns, as the program's exit does.
void ReinstallQtWakeUp();
