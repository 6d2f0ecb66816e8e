// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/MessageBoxes.h"

#include "app/NativeBox.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <cxxabi.h>
#include <stdexcept>
#include <cstdlib>
#include <memory>
#include <typeinfo>
#include <utility>

namespace {

std::function<void(const BoxRecord&)>& BoxHook() {
    static std::function<void(const BoxRecord&)> hook;
    return hook;
}

QString ExecutableFileName() {
    return QFileInfo(QCoreApplication::applicationFilePath()).fileName();
}

// The message as the user reads it; a message already ending in a full stop, a space or any
// character below "." keeps its end. Compared as unsigned bytes, so every multi-byte character
// (all of the Chinese texts) counts as greater.
QString WithFullStop(const std::string& message) {
    QString text = QString::fromUtf8(message);
    if (!message.empty() && static_cast<unsigned char>(message.back()) > static_cast<unsigned char>('.')) {
        text += QLatin1Char('.');
    }
    return text;
}

QString ClassName(const std::exception& e) {
    int status = 0;
    const std::unique_ptr<char, void (*)(void*)> demangled(
        abi::__cxa_demangle(typeid(e).name(), nullptr, nullptr, &status), std::free);
    const QString qualified =
        QString::fromUtf8(status == 0 && demangled ? demangled.get() : typeid(e).name());
    // The class's own name, as the user would know it, without its namespaces.
    return qualified.section(QStringLiteral("::"), -1);
}

void ShowBox(const BoxRecord& box) {
    if (BoxHook()) {
        BoxHook()(box);
        return;
    }
    ShowNativeBox(box);
}

} // namespace

QString ProgramTitle(const QString& executableFileName) {
    const QString stem = executableFileName.section(QLatin1Char('.'), 0, 0);
    return stem.left(1) + stem.mid(1).toLower();
}

void ShowWarning(const QString& text) {
    ShowBox({BoxKind::Warning, QString::fromUtf8("警告"), text});
}

void ShowErrorReport(const std::exception& e) {
    ShowBox({BoxKind::ErrorReport, ProgramTitle(ExecutableFileName()), WithFullStop(e.what())});
}

void ShowApplicationError(const std::exception& e) {
    const std::string message = e.what();
    const bool needsStop = !message.empty() && message.back() != '.';
    // No code address is known for an exception in portable C++; the field keeps its place.
    const QString text = QStringLiteral("Exception %1 in module %2 at %3.\r\n%4%5\r\n")
                             .arg(ClassName(e), ExecutableFileName(), QStringLiteral("00000000"),
                                  QString::fromUtf8(message), needsStop ? QStringLiteral(".") : QString());
    ShowBox({BoxKind::ApplicationError, QStringLiteral("Application Error"), text});
}

void SetMessageBoxHook(std::function<void(const BoxRecord&)> hook) {
    BoxHook() = std::move(hook);
}

void Guarded(const std::function<void()>& body) {
    try {
        body();
    } catch (const std::exception& e) {
        ShowErrorReport(e);
    } catch (...) {
        ShowErrorReport(std::runtime_error("Unknown exception"));
    }
}
