// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Start-up, event loop and shutdown of the program, on an application object that already exists.

// Creates Form1, opens the endpoint, shows the window, runs the event loop until the window has
// been closed, and tears everything down in the order the receive handler needs. Returns the
// process's exit status: 0, or 1 when the window could not be created.
int RunProgram();
