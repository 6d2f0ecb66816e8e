// SPDX-License-Identifier: GPL-3.0-or-later
#include "ChildProcess.h"

#include <csignal>
#include <fcntl.h>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

ChildProcess::ChildProcess(std::vector<std::string> argv, const std::string& outputFile) {
    // Everything is made before the fork: the tests fork with their listener thread running, and the
    // child may only make async-signal-safe calls before it execs.
    std::vector<char*> args;
    for (std::string& a : argv)
        args.push_back(a.data());
    args.push_back(nullptr);
    const int out = outputFile.empty() ? -1 : ::open(outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (!outputFile.empty() && out < 0)
        throw std::runtime_error("cannot open " + outputFile);
    FPid = ::fork();
    if (FPid == 0) {
        // A test that dies (a sanitizer halting it) must not leave its child holding the test's output
        // open: CTest would wait for it until its timeout.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (out >= 0)
            ::dup2(out, STDOUT_FILENO);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    if (out >= 0)
        ::close(out);
    if (FPid < 0)
        throw std::runtime_error("fork failed");
}

ChildProcess::~ChildProcess() {
    Stop(SIGTERM);
}

void ChildProcess::Reaped(int status) {
    FPid = -1;
    FExitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool ChildProcess::Running() {
    int status = 0;
    if (FPid > 0 && ::waitpid(FPid, &status, WNOHANG) == FPid)
        Reaped(status);
    return FPid > 0;
}

int ChildProcess::Stop(int signal) {
    if (FPid > 0) {
        ::kill(FPid, signal);
        int status = 0;
        ::waitpid(FPid, &status, 0);
        Reaped(status);
    }
    return FExitStatus;
}
