// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/korvcfg/AddressGuard.h"

namespace korvcfg {

HeldAddresses::HeldAddresses(const std::vector<FoundDevice>& found,
                             const std::map<std::string, DeviceConfig>& records,
                             const std::vector<std::string>& workstation) {
    for (const FoundDevice& device : found) {
        Hold(device.ip, device.mac);
        if (const auto record = records.find(device.mac); record != records.end()) {
            Hold(FormatAddress(record->second.deviceIp), device.mac);
        }
    }
    for (const std::string& ip : workstation) {
        Hold(ip, ThisWorkstation);
    }
}

void HeldAddresses::Hold(const std::string& ip, const std::string& holder) {
    FHolders.emplace(ip, holder);
}

std::optional<std::string> HeldAddresses::Besides(const std::string& ip, const std::string& mac) const {
    const auto [from, to] = FHolders.equal_range(ip);
    for (auto it = from; it != to; ++it) {
        if (it->second != mac) {
            return it->second;
        }
    }
    return std::nullopt;
}

std::optional<std::string> AddressConflict(const HeldAddresses& held, const std::string& mac,
                                           const Ipv4Octets& current, const Ipv4Octets& newIp) {
    if (newIp == current) {
        return std::nullopt;
    }
    const std::string ip = FormatAddress(newIp);
    const auto holder = held.Besides(ip, mac);
    if (!holder) {
        return std::nullopt;
    }
    return ip + " is held by " + *holder + "; nothing was written (--force writes it all the same)";
}

std::vector<Ipv4Octets> PlanAddresses(const std::vector<BatchDevice>& batch, const Ipv4Octets& first,
                                      const HeldAddresses& held) {
    std::vector<Ipv4Octets> plan;
    FieldValue next = OctetsValue(first);
    for (const BatchDevice& device : batch) {
        const FieldValue mask = OctetsValue(device.mask);
        const FieldValue network = OctetsValue(first) & mask;
        const FieldValue broadcast = network | ~mask;
        const auto taken = [&](FieldValue a) {
            const std::string ip = FormatAddress(ValueOctets(a));
            return held.Besides(ip, device.mac) ||
                   std::find(plan.begin(), plan.end(), ValueOctets(a)) != plan.end();
        };
        while (next < broadcast && (next & mask) == network && taken(next)) {
            ++next;
        }
        if (next == network || next >= broadcast || (next & mask) != network) {
            throw InputError("the batch does not fit: " + device.mac + ", device " +
                             std::to_string(plan.size() + 1) + " of " + std::to_string(batch.size()) +
                             ", finds no free address from " + FormatAddress(first) + " up to " +
                             FormatAddress(ValueOctets(broadcast)) + ", the broadcast address of " +
                             FormatAddress(ValueOctets(network)) + " with mask " +
                             FormatAddress(device.mask) + "; nothing was written");
        }
        plan.push_back(ValueOctets(next++));
    }
    return plan;
}

} // namespace korvcfg
