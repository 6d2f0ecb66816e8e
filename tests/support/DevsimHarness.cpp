// SPDX-License-Identifier: GPL-3.0-or-later
#include "DevsimHarness.h"

#include "protocol/HexCodec.h"

#include <arpa/inet.h>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

} // namespace

std::string DevsimPath() {
    return DEVSIM_PATH;
}

bool InPrivateLan() {
    const char* v = std::getenv("KORV_PRIVATE_LAN");
    return v != nullptr && std::string(v) == "1";
}

DevsimProcess::DevsimProcess(const std::vector<std::string>& deviceArgs) {
    char tmpl[] = "/tmp/devsim-test-XXXXXX";
    if (::mkdtemp(tmpl) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    dir_ = tmpl;
    std::vector<std::string> args = {DevsimPath(),    "--log",   dir_ + "/log",  "--state",
                                     dir_ + "/state", "--ready", dir_ + "/ready"};
    args.insert(args.end(), deviceArgs.begin(), deviceArgs.end());
    process_ = std::make_unique<ChildProcess>(std::move(args));
    // Wait for the ready file, bounded, and give up early if the simulator died.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline && Running()) {
        if (ReadFile(dir_ + "/ready") == "ready\n") {
            started_ = true;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    failure_ = Running() ? "devsim wrote no ready file within 10 s" : "devsim exited before it was ready";
}

DevsimProcess::~DevsimProcess() {
    Stop();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
}

std::string DevsimProcess::State() const {
    return ReadFile(dir_ + "/state");
}

std::vector<std::string> DevsimProcess::LogLines() const {
    return Lines(ReadFile(dir_ + "/log"));
}

std::map<std::string, std::string> DevsimProcess::Devices() const {
    std::map<std::string, std::string> devices;
    for (const std::string& line : Lines(State())) {
        const auto space = line.find(' ');
        if (space != std::string::npos)
            devices[line.substr(0, space)] = line.substr(space + 1);
    }
    return devices;
}

std::vector<DevsimLogLine> DevsimProcess::Log() const {
    std::vector<DevsimLogLine> lines;
    for (const std::string& text : LogLines()) {
        std::istringstream fields(text);
        DevsimLogLine line;
        if (fields >> line.ms >> line.source) {
            fields >> line.hex; // an empty datagram logs no hex
            lines.push_back(line);
        }
    }
    return lines;
}

bool DevsimProcess::Running() {
    return process_->Running();
}

int DevsimProcess::Stop() {
    return process_->Stop(SIGTERM);
}

UdpClient::UdpClient() : fd_(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
    if (fd_ < 0)
        throw std::runtime_error("socket failed");
    const int on = 1;
    ::setsockopt(fd_, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    // 254 answers to one scan arrive in one burst; they must all fit before the test reads them.
    const int buffer = 4 << 20;
    if (::setsockopt(fd_, SOL_SOCKET, SO_RCVBUFFORCE, &buffer, sizeof buffer) != 0)
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(60001);
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
        throw std::runtime_error(std::string("bind 0.0.0.0:60001: ") + std::strerror(errno));
}

UdpClient::~UdpClient() {
    ::close(fd_);
}

void UdpClient::Broadcast(const std::string& hex) {
    SendTo("255.255.255.255", hex);
}

void UdpClient::SendTo(const std::string& ip, const std::string& hex) {
    const std::string bytes = HexToBytes(hex);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(60000);
    ::inet_pton(AF_INET, ip.c_str(), &to.sin_addr);
    if (::sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) < 0)
        throw std::runtime_error(std::string("sendto: ") + std::strerror(errno));
}

std::optional<Reply> UdpClient::Receive(std::chrono::milliseconds bound) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(bound.count())) <= 0)
        return std::nullopt;
    char buffer[70000];
    sockaddr_in from{};
    socklen_t len = sizeof from;
    const ssize_t n = ::recvfrom(fd_, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &len);
    if (n < 0)
        return std::nullopt;
    char ip[INET_ADDRSTRLEN];
    ::inet_ntop(AF_INET, &from.sin_addr, ip, sizeof ip);
    return Reply{BytesToHex(std::string(buffer, static_cast<size_t>(n))), ip, ntohs(from.sin_port)};
}

CommandResult RunCommand(const std::string& command) {
    char outName[] = "/tmp/korv-stdout-XXXXXX";
    char errName[] = "/tmp/korv-stderr-XXXXXX";
    ::close(::mkstemp(outName));
    ::close(::mkstemp(errName));
    const int status = std::system((command + " >" + outName + " 2>" + errName).c_str());
    CommandResult result{WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(outName), ReadFile(errName)};
    ::unlink(outName);
    ::unlink(errName);
    return result;
}

CommandResult RunKorvcfg(const std::string& builtPath, const std::string& args) {
    const char* other = std::getenv("KORV_KORVCFG");
    if (other == nullptr || *other == '\0')
        return RunCommand(builtPath + " " + args);
    CommandResult r = RunCommand(std::string(other) + " " + args);
    for (std::string* text : {&r.out, &r.err}) {
        for (std::size_t at = 0; (at = text->find("\r\n", at)) != std::string::npos;)
            text->erase(at, 1);
    }
    return r;
}

void SendFromAddress(const std::string& sourceIp, const std::string& bytes, const std::string& toIp,
                     int toPort) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throw std::runtime_error("socket failed");
    sockaddr_in from{};
    from.sin_family = AF_INET;
    ::inet_pton(AF_INET, sourceIp.c_str(), &from.sin_addr);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(toPort));
    ::inet_pton(AF_INET, toIp.c_str(), &to.sin_addr);
    const bool sent =
        ::bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) == 0 &&
        ::sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) >= 0;
    const int err = errno;
    ::close(fd);
    if (!sent)
        throw std::runtime_error("send from " + sourceIp + ": " + std::strerror(err));
}
