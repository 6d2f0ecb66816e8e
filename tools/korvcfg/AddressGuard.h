// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Never two devices with one address: who holds which address on the segment (each device as it
// answered the scan and as its record says, and this workstation), the verdict on giving a device a
// new one, and the addresses a batch of devices gets, one after another, around those held.
#include "tools/korvcfg/DeviceSession.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace korvcfg {

inline constexpr char ThisWorkstation[] = "this workstation";

class HeldAddresses {
  public:
    HeldAddresses() = default;
    // Every scanned device at its scan address and at the device IP of its record, if read; and this
    // workstation at each of its own addresses.
    HeldAddresses(const std::vector<FoundDevice>& found, const std::map<std::string, DeviceConfig>& records,
                  const std::vector<std::string>& workstation);
    void Hold(const std::string& ip, const std::string& holder); // holder: a MAC or ThisWorkstation
    // Who holds ip besides mac (a MAC or ThisWorkstation); none when nobody else does.
    std::optional<std::string> Besides(const std::string& ip, const std::string& mac) const;

  private:
    std::multimap<std::string, std::string> FHolders;
};

// Why mac, now at current, must not be given newIp; none when it may (its own address is no conflict).
std::optional<std::string> AddressConflict(const HeldAddresses& held, const std::string& mac,
                                           const Ipv4Octets& current, const Ipv4Octets& newIp);

struct BatchDevice {
    std::string mac;
    Ipv4Octets mask; // the one it will have: the one written, else its own
};
// The addresses of a batch in its order, from first upward, each the next one that nobody else holds
// and no earlier device of the batch got, inside first's network under the device's mask and short of
// its broadcast address. InputError when the batch does not fit.
std::vector<Ipv4Octets> PlanAddresses(const std::vector<BatchDevice>& batch, const Ipv4Octets& first,
                                      const HeldAddresses& held);

} // namespace korvcfg
