// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The facts of the device operations that the window and korvcfg share: how long a scan collects
// replies, and the configuration write as the devices take it (eight steps in this order, not in the
// order of their command codes; each sent until acknowledged, at most SendsPerWriteStep times, with
// the step's wait after every send).
#include "protocol/DeviceMessages.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

inline constexpr uint32_t ScanWaitMs = 1500;
inline constexpr int SendsPerWriteStep = 10;

struct WriteStepInfo {
    CommandCode code;
    uint32_t waitMs;
    const char* name; // for korvcfg's progress and errors
};

inline constexpr std::array<WriteStepInfo, 8> WriteSequence{{
    {CommandCode::DeviceIp, 1000, "device IP"},
    {CommandCode::SubnetMask, 1000, "subnet mask"},
    {CommandCode::NetworkMode, 1000, "network mode"},
    {CommandCode::RemoteIp, 1000, "remote IP"},
    {CommandCode::Gateway, 1000, "gateway"},
    {CommandCode::LocalPort, 1000, "local port"},
    {CommandCode::SerialSpeed, 1000, "baud rate"},
    // The device needs longer to take the whole configuration.
    {CommandCode::Commit, 1200, "commit"},
}};

// The rules in which the window's write and korvcfg's differ; everything else (the steps, their
// order, waits and sends) is the one sequence above. Which datagrams may count at all is the link's:
// the window's last datagram from anyone, korvcfg's only those from the address the scan found the
// device at (the commit's also from the device IP being written, which the device may take at once).
struct WritePolicy {
    // The tenth send's acknowledgement counts. The window never checks it: its acknowledgement could
    // only arrive during a wait that is already the last one, and the window reports the step failed.
    bool lastSendCounts;
    // A step ends as soon as its acknowledgement arrives. Otherwise every wait runs to its end and
    // only the last datagram before the end counts (the window's way).
    bool endsAtAcknowledgement;
    // Every step's parameter is worked out before the first send, so a value that cannot be written
    // stops the write before the device has taken any part of it. Otherwise each send reads the
    // values as they are then (the window's edits).
    bool paramsUpFront;
};
inline constexpr WritePolicy WindowWritePolicy{false, false, false};
inline constexpr WritePolicy KorvcfgWritePolicy{true, true, true};

// What a write asks of the program that runs it.
class WriteLink {
  public:
    virtual ~WriteLink() = default;
    // At the start of every step: a reply left from before it (an earlier write of the same value)
    // must not count for a device that never heard this step's sends.
    virtual void ForgetReplies() = 0;
    virtual void Send(CommandCode step, const std::string& bytes) = 0;
    // Waits waitMs, handing each reply that may count for the step to take (the window hands only the
    // last datagram, once the wait is over); may end early once take returns true.
    virtual void Await(CommandCode step, uint32_t waitMs,
                       const std::function<bool(const std::string& hex)>& take) = 0;
};

struct WriteOutcome {
    // The step that ran out of sends, or (with paramsUpFront) the first that has nothing to send;
    // none when the commit was acknowledged.
    std::optional<std::size_t> failedStep;
    bool nothingSent = false; // the write stopped before its first send
};

// The whole sequence to macText's device, each step sent until acknowledged, at most
// SendsPerWriteStep times, with the step's wait after every send. acknowledged(step, sends) runs after
// each acknowledged step.
WriteOutcome RunWrite(const WritePolicy& policy, const std::string& macText, const ConfigSource& values,
                      WriteLink& link,
                      const std::function<void(const WriteStepInfo&, int sends)>& acknowledged);
