// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The facts of the device operations that the window and korvcfg share: how long a scan collects
// replies, and the configuration write as the devices take it (eight steps in this order, not in the
// order of their command codes; each sent until acknowledged, at most SendsPerWriteStep times, with
// the step's wait after every send).
#include "protocol/DeviceMessages.h"

#include <array>
#include <cstdint>

inline constexpr uint32_t ScanWaitMs = 1500;
inline constexpr int SendsPerWriteStep = 10;

struct WriteStepInfo {
    CommandCode code;
    uint32_t waitMs;
    const char* name;        // for korvcfg's progress and errors
    const char* successText; // the window's status bar after the step's acknowledgement
    const char* warningText; // the window's warning box when the sends run out
};

inline constexpr std::array<WriteStepInfo, 8> WriteSequence{{
    {CommandCode::DeviceIp, 1000, "device IP", "IP写入成功！", "IP写入缓冲区失败！"},
    {CommandCode::SubnetMask, 1000, "subnet mask", "子掩码写入成功！", "子掩码写入缓冲区失败！"},
    {CommandCode::NetworkMode, 1000, "network mode", "网络模式写入成功！", "网络模式写入缓冲区失败！"},
    {CommandCode::RemoteIp, 1000, "remote IP", "远程IP写入成功！", "远程IP写入缓冲区失败！"},
    {CommandCode::Gateway, 1000, "gateway", "网关写入成功！", "网关写入缓冲区失败！"},
    {CommandCode::LocalPort, 1000, "local port", "端口号写入成功！", "端口号写入缓冲区失败！"},
    {CommandCode::SerialSpeed, 1000, "baud rate", "波特率写入成功！", "波特率写入缓冲区失败！"},
    // The device needs longer to take the whole configuration.
    {CommandCode::Commit, 1200, "commit", "设置成功！请重新启动一下设备！", "设置失败！"},
}};
