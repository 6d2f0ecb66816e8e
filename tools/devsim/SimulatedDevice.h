// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One simulated device: reads requests, answers them, keeps its configuration. Written values wait
// in a buffer and become the configuration only on the commit, as on the real units. No sockets.
#include "tools/devsim/DeviceProfile.h"
#include "tools/devsim/DeviceWire.h"

#include <map>
#include <string>
#include <vector>

enum class Outcome {
    Answered,    // replies produced
    Dropped,     // ours, but a fault knob swallowed it (silent, noack, ackfrom)
    OtherDevice, // a well-formed request for another DeviceId
    Ignored,     // malformed or foreign
};

struct Reaction {
    Outcome outcome = Outcome::Ignored;
    std::vector<std::string> replies; // in sending order
    bool committed = false;           // the configuration changed hands: rewrite the state file
};

class SimulatedDevice {
  public:
    explicit SimulatedDevice(DeviceProfile profile);

    Reaction Handle(const Request& request);

    const DeviceProfile& Profile() const { return profile_; }
    const DeviceConfig& Committed() const { return profile_.config; }
    const DeviceConfig& Pending() const { return pending_; }

  private:
    bool Acknowledges(uint8_t code);
    void Buffer(uint8_t code, const std::string& params);

    DeviceProfile profile_; // profile_.config is the committed configuration
    DeviceConfig pending_;
    std::map<uint8_t, int> sends_; // per code, requests of ours received so far
};
