// SPDX-License-Identifier: GPL-3.0-or-later
#include "FakeDevices.h"

#include "protocol/DeviceMessages.h"

FakeDevices::FakeDevices(FakeNetwork& net, const std::vector<std::string>& profiles) : FNet(net) {
    int ordinal = 1;
    for (const std::string& text : profiles) {
        FDevices.emplace_back(ParseDeviceProfile(text, ordinal++));
    }
    FNet.AddResponder([this](const FakeDatagram& d) {
        if (d.toPort != DevicePort) {
            return;
        }
        const Request request = ParseRequest(d.bytes);
        for (SimulatedDevice& device : FDevices) {
            const std::string ip = FormatIpv4(device.Profile().sourceIp);
            if (d.toIp != "255.255.255.255" && d.toIp != ip) {
                continue;
            }
            const Reaction reaction = device.Handle(request);
            for (const std::string& reply : reaction.replies) {
                FNet.Deliver(ip, DevicePort, d.fromPort, reply,
                             std::chrono::milliseconds(device.Profile().faults.delayMs));
            }
        }
    });
}

FakeDevices::~FakeDevices() {
    FNet.ClearResponders();
}
