// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Every box the program shows goes through here, so tests can record boxes instead of blocking on them.
#include <QString>
#include <exception>
#include <functional>

enum class BoxKind { Warning, ErrorReport, ApplicationError };

struct BoxRecord {
    BoxKind kind;
    QString caption;
    QString text;
};

// Modal box owned by the active window, one OK button, no icon, caption "警告".
void ShowWarning(const QString& text);

// The generic error report for an exception that escaped a handler: the message with "." appended
// when its last character compares greater than "."; caption the program title; stop icon.
void ShowErrorReport(const std::exception& e);

// Start-up failure before the main window exists: the "Application Error" box (no owner, stop icon).
void ShowApplicationError(const std::exception& e);

// The program title for an executable file name: cut at the first ".", every character after the
// first in lower case ("PROJECT1.EXE" gives "Project1").
QString ProgramTitle(const QString& executableFileName);

// Test seam: when set, boxes are handed to the hook instead of being shown. Pass {} to restore.
void SetMessageBoxHook(std::function<void(const BoxRecord&)> hook);

// Runs a handler body; an exception that escapes it becomes the error report, never crossing Qt's loop.
void Guarded(const std::function<void()>& body);
