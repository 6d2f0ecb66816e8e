// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/korvcfg/TurnTaking.h"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>

namespace {

constexpr int MainTurn = -1;

struct Turns {
    std::mutex mutex;
    std::condition_variable changed;
    int turn = MainTurn;

    // Called by the holder of the turn: passes it to next and sleeps until it is mine again.
    void HandOver(int next, int mine) {
        std::unique_lock lock(mutex);
        turn = next;
        changed.notify_all();
        changed.wait(lock, [&] { return turn == mine; });
    }
};

class Job : public OpsClock {
  public:
    Job(OpsClock& clock, Turns& turns, int index) : FClock(clock), FTurns(turns), FIndex(index) {}

    // The job's side: a wait is the main thread's to serve.
    std::chrono::milliseconds Now() override { return FClock.Now(); }
    bool WaitUntil(std::chrono::milliseconds deadline, const std::function<bool()>& done) override {
        FDeadline = deadline;
        FDone = &done;
        FTurns.HandOver(MainTurn, FIndex);
        FDone = nullptr;
        return FResult;
    }

    // The main thread's side, each called while the job waits for its turn.
    void Start(const std::function<void(OpsClock&)>& work) {
        FThread = std::thread([this, &work] {
            {
                std::unique_lock lock(FTurns.mutex);
                FTurns.changed.wait(lock, [&] { return FTurns.turn == FIndex; });
            }
            try {
                work(*this);
            } catch (...) {
                FError = std::current_exception();
            }
            FFinished = true;
            std::lock_guard lock(FTurns.mutex);
            FTurns.turn = MainTurn;
            FTurns.changed.notify_all();
        });
        Resume(false);
    }
    void Resume(bool result) {
        FResult = result;
        FTurns.HandOver(FIndex, MainTurn);
        if (FFinished) {
            FThread.join();
        }
    }
    bool Waiting() const { return FDone != nullptr && !FFinished; }
    bool Finished() const { return FFinished; }
    std::chrono::milliseconds Deadline() const { return FDeadline; }
    bool Done() const { return (*FDone)(); }
    std::exception_ptr Error() const { return FError; }

  private:
    OpsClock& FClock;
    Turns& FTurns;
    const int FIndex;
    std::thread FThread;
    std::chrono::milliseconds FDeadline{0};
    const std::function<bool()>* FDone = nullptr;
    bool FResult = false;
    bool FFinished = false;
    std::exception_ptr FError;
};

} // namespace

void RunTakingTurns(OpsClock& clock, const std::vector<std::function<void(OpsClock&)>>& jobs,
                    std::size_t parallel) {
    Turns turns;
    std::vector<std::unique_ptr<Job>> started;
    std::size_t next = 0;
    const auto unfinished = [&] {
        return std::count_if(started.begin(), started.end(),
                             [](const auto& job) { return !job->Finished(); });
    };
    const auto fill = [&] {
        while (next < jobs.size() &&
               static_cast<std::size_t>(unfinished()) < std::max<std::size_t>(parallel, 1)) {
            started.push_back(std::make_unique<Job>(clock, turns, static_cast<int>(started.size())));
            started.back()->Start(jobs[next++]);
        }
    };
    fill();
    while (unfinished() > 0) {
        auto deadline = std::chrono::milliseconds::max();
        for (const auto& job : started) {
            if (job->Waiting()) {
                deadline = std::min(deadline, job->Deadline());
            }
        }
        std::vector<bool> ready(started.size(), false);
        clock.WaitUntil(deadline, [&] {
            bool any = false;
            for (std::size_t i = 0; i < started.size(); ++i) {
                ready[i] = ready[i] || (started[i]->Waiting() && started[i]->Done());
                any = any || ready[i];
            }
            return any;
        });
        const auto now = clock.Now();
        for (std::size_t i = 0; i < started.size(); ++i) {
            Job& job = *started[i];
            if (job.Waiting() && (ready[i] || now >= job.Deadline())) {
                job.Resume(ready[i]);
            }
        }
        fill();
    }
    for (const auto& job : started) {
        if (job->Error()) {
            std::rethrow_exception(job->Error());
        }
    }
}
