#pragma once
// What the test program's main offers its tests.

// Installs the main-thread queue's Qt wake-up afresh: running the program's own shell in-process
// removes it when the shell returns, as the program's exit does.
void ReinstallQtWakeUp();
