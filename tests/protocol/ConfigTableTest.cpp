// SPDX-License-Identifier: GPL-3.0-or-later
// The one table every program drives its fields from: each field found by its key and by its step,
// written by the eight steps, in a record place of its own, carried by the wire in its own byte order,
// and stored in a member of its own.
#include "ByteRows.h"

#include "protocol/DeviceConfig.h"
#include "protocol/DeviceMessages.h"
#include "protocol/HexCodec.h"
#include "protocol/WriteSequence.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

TEST(ConfigTable, EachFieldHasItsOwnStepPlaceBytesAndMember) {
    // A distinct value per field, in the wire's byte order: addresses first octet first, the port low
    // byte first (a read that swapped them would show 8080 as 36895).
    const std::pair<const char*, std::string> wire[] = {{"ip", Bytes({192, 168, 1, 7})},
                                                        {"mask", Bytes({255, 255, 252, 0})},
                                                        {"gateway", Bytes({192, 168, 1, 1})},
                                                        {"remote_ip", Bytes({10, 0, 0, 9})},
                                                        {"port", Bytes({0x90, 0x1F})},
                                                        {"mode", Bytes({0x04})},
                                                        {"baud", Bytes({0xF4})}};
    ASSERT_EQ(std::size(wire), ConfigFields.size());
    std::set<int> placed;
    DeviceConfig config;
    for (const auto& [key, bytes] : wire) {
        const ConfigField* field = FieldNamed(key);
        ASSERT_NE(field, nullptr) << key;
        EXPECT_EQ(FieldOfStep(field->step), field) << key;
        EXPECT_EQ(std::count_if(WriteSequence.begin(), WriteSequence.end(),
                                [&](const WriteStepInfo& step) { return step.code == field->step; }),
                  1)
            << key;
        ASSERT_EQ(bytes.size(), static_cast<std::size_t>(field->width)) << key;
        for (int i = 0; field->recordOffset != SpeedHasNoOffset && i < field->width; ++i) {
            EXPECT_TRUE(placed.insert(field->recordOffset + i).second) << key << " overlaps another field";
            EXPECT_LT(static_cast<std::size_t>(field->recordOffset + i), ConfigRecordMinBytes() - 1) << key;
        }
        const FieldValue value = FieldFromBytes(*field, bytes);
        EXPECT_EQ(FieldBytes(*field, value), bytes) << key;
        const DeviceConfig before = config;
        field->set(config, value);
        EXPECT_EQ(field->get(config), value) << key;
        EXPECT_NE(config, before) << key << " has no member of its own";
    }
    EXPECT_EQ(config.port, 8080);
    EXPECT_EQ(config.subnetMask, (Ipv4Octets{255, 255, 252, 0}));
    // A record laid out by the table reads back whole, the speed from the record's last byte.
    std::string record(64, '\x55');
    for (const auto& [key, bytes] : wire) {
        const ConfigField& field = *FieldNamed(key);
        record.replace(field.recordOffset == SpeedHasNoOffset ? record.size() - 1
                                                              : static_cast<std::size_t>(field.recordOffset),
                       bytes.size(), bytes);
    }
    EXPECT_EQ(ReadConfigRecord(BytesToHex(record)), config);
    EXPECT_EQ(FieldNamed("speed"), nullptr);
    EXPECT_EQ(FieldOfStep(CommandCode::Commit), nullptr);
}
