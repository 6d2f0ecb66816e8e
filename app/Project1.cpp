// SPDX-License-Identifier: GPL-3.0-or-later
// The program entry: the application object, then the one main window until it is closed.
#include "app/ProgramShell.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    return RunProgram();
}
