// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol/WriteSequence.h"

#include <gtest/gtest.h>

#include <map>
#include <vector>

namespace {

// Answers the nth send of every step with the datagrams scripted for n; "ack" stands for the step's
// own acknowledgement.
class ScriptedLink : public WriteLink {
  public:
    explicit ScriptedLink(std::map<int, std::vector<std::string>> script) : FScript(std::move(script)) {}
    int sends = 0;

    void ForgetReplies() override { FStepSends = 0; }
    void Send(CommandCode, const std::string&) override {
        ++sends;
        ++FStepSends;
    }
    void Await(CommandCode step, uint32_t, const std::function<bool(const std::string&)>& take) override {
        for (const std::string& hex : FScript[FStepSends]) {
            if (take(hex == "ack" ? WriteAckText(step) : hex)) {
                return;
            }
        }
    }

  private:
    std::map<int, std::vector<std::string>> FScript;
    int FStepSends = 0;
};

struct Expected {
    int failedStep; // -1: the commit was acknowledged
    int sends;
};

struct PolicyRow {
    const char* what;
    uint8_t modeCode;
    std::map<int, std::vector<std::string>> script;
    Expected window, korvcfg;
};

TEST(WritePolicies, TheWindowAndKorvcfgDifferOnlyWhereTheirPoliciesSay) {
    const std::vector<PolicyRow> rows = {
        {"taken at the third send", 0x01, {{3, {"ack"}}}, {-1, 24}, {-1, 24}},
        {"only the tenth send answered", 0x01, {{10, {"ack"}}}, {0, 10}, {-1, 80}},
        {"a stray after the acknowledgement", 0x01, {{1, {"ack", "00"}}}, {0, 10}, {-1, 8}},
        // Code 03 names no mode: korvcfg stops before its first send, the window sends what it can.
        {"a mode code that names no mode", 0x03, {{1, {"ack"}}}, {2, 2}, {2, 0}},
    };
    for (const PolicyRow& row : rows) {
        DeviceConfig config;
        config.modeCode = row.modeCode;
        config.baudCode = 0xFC;
        for (const auto& [policy, expected] :
             {std::pair{WindowWritePolicy, row.window}, std::pair{KorvcfgWritePolicy, row.korvcfg}}) {
            ScriptedLink link(row.script);
            const WriteOutcome outcome = RunWrite(policy, "00-4C-5A-1E-0B-21", FixedConfig(config), link, {});
            EXPECT_EQ(outcome.failedStep ? static_cast<int>(*outcome.failedStep) : -1, expected.failedStep)
                << row.what << (policy.lastSendCounts ? " (korvcfg)" : " (window)");
            EXPECT_EQ(link.sends, expected.sends)
                << row.what << (policy.lastSendCounts ? " (korvcfg)" : " (window)");
        }
    }
}

} // namespace
