#pragma once
// The device simulator as a subprocess of one test: started with its own log, state and ready files
// in a temporary folder, stopped with SIGTERM when the object goes.
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <map>
#include <string>
#include <vector>

struct DevSimLogLine {
    long ms = 0;
    std::string source; // "a.b.c.d:port"
    std::string hex;
};

class DevSimProcess {
  public:
    // deviceArgs: the DEVICE arguments, e.g. {"--device", "id=...,ip=..."}.
    explicit DevSimProcess(const QStringList& deviceArgs);
    ~DevSimProcess();
    DevSimProcess(const DevSimProcess&) = delete;
    DevSimProcess& operator=(const DevSimProcess&) = delete;

    // Whether the simulator bound its socket within the bound; the reason otherwise.
    bool Ready() const { return FReady; }
    const std::string& Failure() const { return FFailure; }

    std::vector<DevSimLogLine> Log() const;
    // Waits (pumping events) until the log holds at least count lines.
    bool WaitForLogLines(std::size_t count, int timeoutMs) const;
    // The committed configuration by DeviceId: the rest of the device's state line.
    std::map<std::string, std::string> State() const;

  private:
    QTemporaryDir FDir;
    QProcess FProcess;
    bool FReady = false;
    std::string FFailure;
};

// Sends one datagram to the workstation's port from a device address of the private LAN, the way a
// device that no scan or read asked for would.
void SendFromDeviceAddress(const std::string& sourceIp, const std::string& bytes);

// The device side's copy of a window value: "192.168.1.7" -> "C0A80107".
std::string DottedToHex(const std::string& dotted);
