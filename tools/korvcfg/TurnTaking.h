// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Several device conversations at once, on code written for one at a time. Each job runs on a thread
// of its own, but only one thread runs at any moment: a job hands over whenever it waits, and the
// calling (main) thread alone runs the clock and the deliveries while every job waits. So the jobs
// share the one endpoint and the main-thread deliveries as the sequential code does, a test's virtual
// clock serves them all, and nothing is touched by two threads at once.
#include "net/OpsClock.h"

#include <cstddef>
#include <functional>
#include <vector>

// Runs every job, at most parallel of them started and unfinished at a time, in the order given;
// each gets a clock of its own that waits on clock. An exception that escapes a job ends only that
// job; the first one is raised again once every job has finished.
void RunTakingTurns(OpsClock& clock, const std::vector<std::function<void(OpsClock&)>>& jobs,
                    std::size_t parallel);
