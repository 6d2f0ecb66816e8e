// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The simulator's devices (the same logic devsim runs) answering on a FakeNetwork: each request the
// endpoint broadcasts to the device port is handed to every device, and its answers come back from
// the device's own address after its delay, in virtual time.
#include "FakeNetwork.h"
#include "tools/devsim/SimulatedDevice.h"

#include <string>
#include <vector>

class FakeDevices {
  public:
    // profiles: devsim's --device texts, e.g. "id=4C5A1E0B21,ip=10.77.1.11,noack=04".
    FakeDevices(FakeNetwork& net, const std::vector<std::string>& profiles);
    ~FakeDevices(); // clears every responder of the network
    FakeDevices(const FakeDevices&) = delete;
    FakeDevices& operator=(const FakeDevices&) = delete;

    const SimulatedDevice& operator[](std::size_t i) const { return FDevices.at(i); }
    std::size_t Count() const { return FDevices.size(); }

  private:
    FakeNetwork& FNet;
    std::vector<SimulatedDevice> FDevices;
};
