// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The operations' clock on the fake network's virtual time.
#include "FakeNetwork.h"
#include "net/OpsClock.h"

class VirtualClock : public OpsClock {
  public:
    explicit VirtualClock(FakeNetwork& net) : FNet(net) {}
    std::chrono::milliseconds Now() override { return FNet.Now(); }
    bool WaitUntil(std::chrono::milliseconds deadline, const std::function<bool()>& done) override {
        return FNet.RunUntil(deadline, done);
    }

  private:
    FakeNetwork& FNet;
};
