// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The simulated devices the window's tests use, with what the window must show for each. The same
// profiles drive the fake network's devices (FakeDevices) and a real devsim process.
#include <string>
#include <vector>

struct TestDevice {
    const char* id;     // DeviceId, ten hex digits
    const char* ip;     // source address in the private LAN
    const char* config; // devsim configuration keys
    const char* mac;    // MAC text the window lists
    const char* fields; // WindowHarness::FieldsText() after its record is shown

    // devsim's --device text, with fault keys such as "noack=01" appended.
    std::string Profile(const std::string& faults = {}) const {
        std::string keys = std::string("id=") + id + ",from=" + ip + "," + config;
        return faults.empty() ? keys : keys + "," + faults;
    }
    // "01" + DeviceId + code + parameter digits, the frame every addressed request shares.
    std::string Request(const std::string& codeAndParams) const {
        return "01" + std::string(id) + codeAndParams;
    }
};

// devsim's arguments for these profiles.
inline std::vector<std::string> DeviceArgs(const std::vector<std::string>& profiles) {
    std::vector<std::string> args;
    for (const std::string& profile : profiles) {
        args.push_back("--device");
        args.push_back(profile);
    }
    return args;
}

inline const TestDevice DeviceA{"1A2B3C4D01", "10.77.1.11",
                                "mode=01,port=8080,ip=192.168.1.7,remote_ip=192.168.1.200,gateway=192.168."
                                "1.1,mask=255.255.255.0,baud=FC",
                                "00-1A-2B-3C-4D-01",
                                "mode=1 devip=192.168.1.7 mask=255.255.255.0 gateway=192.168.1.1 "
                                "remoteip=192.168.1.200 port=8080 speed=8"};

// Mode code 04 sits at entry 3, so a read or write that maps entries to codes by arithmetic fails here.
inline const TestDevice DeviceB{
    "5E6F708192", "10.77.1.12",
    "mode=04,port=502,ip=10.0.0.5,remote_ip=10.0.0.9,gateway=10.0.0.1,mask=255.0.0.0,baud=40",
    "00-5E-6F-70-81-92",
    "mode=3 devip=10.0.0.5 mask=255.0.0.0 gateway=10.0.0.1 remoteip=10.0.0.9 port=502 speed=0"};

inline const std::string Workstation = "10.77.0.100:60001";

// The window's scan request and a device's configuration read request.
inline const std::string ScanRequestHex = "0000000000";
inline std::string ReadRequestHex(const TestDevice& device) {
    return device.Request("0AFFFFFFFF");
}
