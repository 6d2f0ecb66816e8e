// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/ProgramShell.h"

#include "net/MainThreadQueue.h"
#include "app/MessageBoxes.h"
#include "adapter/QtWakeUp.h"
#include "app/Unit1.h"

#include <QApplication>

#include <exception>
#include <memory>

int RunProgram() {
    SetMainThread();
    const std::unique_ptr<QtWakeUpGuard> wakeUp = InstallQtWakeUp();
    // Closing the window asks the loop to end; a handler still waiting in Delay runs to its end
    // first, because Delay pumps events without an event loop of its own that a quit could end.
    QApplication::setQuitOnLastWindowClosed(true);

    std::unique_ptr<TForm1> form;
    try {
        form = std::make_unique<TForm1>();
    } catch (const std::exception& e) {
        ShowApplicationError(e);
        return 1;
    }
    Form1 = form.get();
    QApplication::setWindowIcon(form->windowIcon());

    form->FormCreate(form.get());
    form->show();
    QApplication::exec();

    form->hide();
    // No datagram may reach a window whose controls are gone: the endpoint stops while they all
    // still exist.
    form->ShutdownEndpoint();
    Form1 = nullptr;
    form.reset();
    return 0;
}
