// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol/WriteSequence.h"

#include <vector>

namespace {

bool RunStep(const WritePolicy& policy, const std::string& macText, const WriteStepInfo& step,
             const std::function<std::optional<std::string>()>& param, WriteLink& link, int& sends) {
    const std::string ack = WriteAckText(step.code);
    link.ForgetReplies();
    for (sends = 1;; ++sends) {
        // Nothing to send (no entry chosen) still waits, so the step runs out as it would unanswered.
        if (const auto paramHex = param()) {
            link.Send(step.code, WriteCommand(macText, step.code, *paramHex));
        }
        bool acknowledged = false;
        link.Await(step.code, step.waitMs, [&](const std::string& hex) {
            // Without an early end, a later datagram of the same wait overrules an acknowledgement.
            acknowledged = hex == ack;
            return acknowledged && policy.endsAtAcknowledgement;
        });
        if (sends == SendsPerWriteStep && !policy.lastSendCounts) {
            return false;
        }
        if (acknowledged) {
            return true;
        }
        if (sends == SendsPerWriteStep) {
            return false;
        }
    }
}

} // namespace

WriteOutcome RunWrite(const WritePolicy& policy, const std::string& macText, const ConfigSource& values,
                      WriteLink& link,
                      const std::function<void(const WriteStepInfo&, int sends)>& acknowledged) {
    std::vector<std::optional<std::string>> upFront;
    if (policy.paramsUpFront) {
        for (std::size_t i = 0; i < WriteSequence.size(); ++i) {
            upFront.push_back(StepParam(WriteSequence[i].code, values));
            if (!upFront.back()) {
                return {i, true};
            }
        }
    }
    for (std::size_t i = 0; i < WriteSequence.size(); ++i) {
        const WriteStepInfo& step = WriteSequence[i];
        const auto param = [&]() -> std::optional<std::string> {
            return policy.paramsUpFront ? upFront[i] : StepParam(step.code, values);
        };
        int sends = 0;
        if (!RunStep(policy, macText, step, param, link, sends)) {
            return {i, false};
        }
        if (acknowledged) {
            acknowledged(step, sends);
        }
    }
    return {};
}
