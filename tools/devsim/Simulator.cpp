// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/devsim/Simulator.h"

#include "protocol/HexCodec.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fstream>
#include <iostream>
#include <poll.h>
#include <set>
#include <stdexcept>
#include <sys/signalfd.h>
#include <unistd.h>

void WriteFileAtomically(const std::string& path, const std::string& text) {
    const std::string tmp = path + ".tmp" + std::to_string(::getpid());
    {
        std::ofstream out(tmp, std::ios::trunc);
        out << text;
        if (!out.flush())
            throw std::runtime_error("cannot write " + tmp);
    }
    if (std::rename(tmp.c_str(), path.c_str()) != 0)
        throw std::runtime_error("cannot rename " + tmp + " to " + path + ": " + std::strerror(errno));
}

Simulator::Simulator(SimulatorOptions options, std::vector<DeviceProfile> devices)
    : options_(std::move(options)), socket_(options_.listenPort) {
    std::set<Ipv4> checked;
    std::set<std::string> ids;
    for (auto& profile : devices) {
        if (!ids.insert(profile.id).second)
            throw std::runtime_error("two devices with the id " + profile.id);
        if (checked.insert(profile.sourceIp).second)
            RequireLocalAddress(profile.sourceIp);
        devices_.emplace_back(std::move(profile));
    }
    if (!options_.logPath.empty()) {
        log_.reset(std::fopen(options_.logPath.c_str(), "w"));
        if (!log_)
            throw std::runtime_error("cannot open log " + options_.logPath + ": " + std::strerror(errno));
    }
    WriteStateFile();
    if (!options_.readyPath.empty())
        WriteFileAtomically(options_.readyPath, "ready\n");
}

long long Simulator::MsSinceStart() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start_).count();
}

void Simulator::WriteStateFile() const {
    if (options_.statePath.empty())
        return;
    std::string text;
    for (const auto& d : devices_)
        text += FormatStateLine(d.Profile(), d.Committed()) + "\n";
    WriteFileAtomically(options_.statePath, text);
}

void Simulator::OnDatagram(const ReceivedDatagram& d) {
    // Logged before anything answers, so a reader that has seen a reply also finds the request.
    if (log_) {
        std::fprintf(log_.get(), "%lld %s:%u %s\n", MsSinceStart(), FormatIpv4(d.fromIp).c_str(), d.fromPort,
                     BytesToHex(d.payload).c_str());
        std::fflush(log_.get());
    }
    const Request request = ParseRequest(d.payload);
    if (request.kind == RequestKind::Malformed || request.kind == RequestKind::Foreign) {
        std::cerr << "devsim: ignored " << d.payload.size() << " bytes from " << FormatIpv4(d.fromIp) << ":"
                  << d.fromPort << ": " << request.why << "\n";
        return;
    }
    bool heard = false, anyMine = false, committed = false;
    for (auto& device : devices_) {
        if (d.unicastTo && *d.unicastTo != device.Profile().sourceIp)
            continue;
        heard = true;
        Reaction r = device.Handle(request);
        anyMine |= r.outcome != Outcome::OtherDevice;
        committed |= r.committed;
        const auto due = Clock::now() + std::chrono::milliseconds(device.Profile().faults.delayMs);
        for (auto& payload : r.replies)
            queue_.push({due, nextSeq_++, device.Profile().sourceIp, d.fromIp, std::move(payload)});
    }
    // A datagram to an address no device has is lost, as on a real segment.
    if (heard && !anyMine)
        std::cerr << "devsim: ignored request for " << request.deviceId << ": no such device\n";
    // The state file changes before the commit is acknowledged, so whoever sees the ack sees the state.
    if (committed)
        WriteStateFile();
}

void Simulator::SendDue() {
    const auto now = Clock::now();
    while (!queue_.empty() && queue_.top().due <= now) {
        const Outgoing& o = queue_.top();
        socket_.SendFrom(o.from, o.to, options_.replyPort, o.payload);
        queue_.pop();
    }
}

int Simulator::MillisecondsToNextDue() const {
    if (queue_.empty())
        return -1;
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(queue_.top().due - Clock::now()).count();
    return wait < 0 ? 0 : static_cast<int>(wait);
}

int Simulator::Run() {
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    FileDescriptor signals(::signalfd(-1, &stopSignals, SFD_CLOEXEC));
    if (signals.Get() < 0)
        throw std::runtime_error(std::string("signalfd: ") + std::strerror(errno));
    pollfd fds[2] = {{socket_.Fd(), POLLIN, 0}, {signals.Get(), POLLIN, 0}};
    for (;;) {
        const int n = ::poll(fds, 2, MillisecondsToNextDue());
        if (n < 0 && errno != EINTR)
            throw std::runtime_error(std::string("poll: ") + std::strerror(errno));
        if (fds[1].revents & POLLIN)
            return 0;
        if (fds[0].revents & POLLIN)
            while (auto d = socket_.Receive())
                OnDatagram(*d);
        SendDue();
    }
}
