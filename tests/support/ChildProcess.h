// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A program that a test starts beside itself (the simulator, the flood generator), ended with the
// test. Not QProcess: Qt starts its children through the exported clone() with CLONE_VM|CLONE_VFORK,
// and ThreadSanitizer's runtime then runs its child-side fork bookkeeping on the parent's own state,
// which leaves the parent's main thread unchecked and yields false race reports.
#include <string>
#include <sys/types.h>
#include <vector>

class ChildProcess {
  public:
    // Starts argv[0] with argv; its standard output goes to outputFile when one is named.
    explicit ChildProcess(std::vector<std::string> argv, const std::string& outputFile = {});
    ~ChildProcess(); // SIGTERM and reap, when it still runs
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Running(); // reaps it once it has ended
    // Sends the signal and waits for the end; the exit status, or -1 when it did not exit normally.
    int Stop(int signal);
    // The exit status once it ended normally; -1 before, or after a signal ended it.
    int ExitStatus() const { return FExitStatus; }

  private:
    void Reaped(int status);

    pid_t FPid = -1;
    int FExitStatus = -1;
};
