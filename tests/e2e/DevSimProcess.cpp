#include "DevSimProcess.h"

#include <QFile>
#include <QTest>

#include <arpa/inet.h>
#include <csignal>
#include <sys/prctl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace {

QString ReadFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    return QString::fromUtf8(file.readAll());
}

} // namespace

DevSimProcess::DevSimProcess(const QStringList& deviceArgs) {
    const QString ready = FDir.filePath("ready");
    QStringList args{"--log", FDir.filePath("log"), "--state", FDir.filePath("state"), "--ready", ready};
    args << deviceArgs;
    FProcess.setProcessChannelMode(QProcess::ForwardedChannels);
    // A test that dies (a sanitizer halting it) must not leave the simulator holding the test's
    // output open: CTest would wait for it until its timeout.
    FProcess.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    FProcess.start(QStringLiteral(DEVSIM_PATH), args);
    if (!FProcess.waitForStarted(5000)) {
        FFailure = "devsim did not start: " + FProcess.errorString().toStdString();
        return;
    }
    FReady = QTest::qWaitFor(
        [&] { return ReadFile(ready).startsWith("ready") || FProcess.state() == QProcess::NotRunning; },
        10000);
    if (FProcess.state() == QProcess::NotRunning) {
        FReady = false;
        FFailure = "devsim exited with status " + std::to_string(FProcess.exitCode());
    } else if (!FReady) {
        FFailure = "devsim wrote no ready file within 10 s";
    }
}

DevSimProcess::~DevSimProcess() {
    if (FProcess.state() != QProcess::NotRunning) {
        FProcess.terminate();
        if (!FProcess.waitForFinished(5000)) {
            FProcess.kill();
            FProcess.waitForFinished(5000);
        }
    }
}

std::vector<DevSimLogLine> DevSimProcess::Log() const {
    std::vector<DevSimLogLine> lines;
    std::istringstream in(ReadFile(FDir.filePath("log")).toStdString());
    std::string text;
    while (std::getline(in, text)) {
        std::istringstream fields(text);
        DevSimLogLine line;
        if (fields >> line.ms >> line.source) {
            fields >> line.hex; // an empty datagram logs no hex
            lines.push_back(line);
        }
    }
    return lines;
}

bool DevSimProcess::WaitForLogLines(std::size_t count, int timeoutMs) const {
    return QTest::qWaitFor([&] { return Log().size() >= count; }, timeoutMs);
}

std::map<std::string, std::string> DevSimProcess::State() const {
    std::map<std::string, std::string> devices;
    std::istringstream in(ReadFile(FDir.filePath("state")).toStdString());
    std::string text;
    while (std::getline(in, text)) {
        const auto space = text.find(' ');
        if (space != std::string::npos) {
            devices[text.substr(0, space)] = text.substr(space + 1);
        }
    }
    return devices;
}

void SendFromDeviceAddress(const std::string& sourceIp, const std::string& bytes) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) {
        throw std::runtime_error("socket failed");
    }
    sockaddr_in from{};
    from.sin_family = AF_INET;
    from.sin_port = 0;
    ::inet_pton(AF_INET, sourceIp.c_str(), &from.sin_addr);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(60001);
    ::inet_pton(AF_INET, "10.77.0.100", &to.sin_addr);
    const bool sent = ::bind(fd, reinterpret_cast<const sockaddr*>(&from), sizeof from) == 0 &&
                      ::sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to),
                               sizeof to) == static_cast<ssize_t>(bytes.size());
    ::close(fd);
    if (!sent) {
        throw std::runtime_error("could not send from " + sourceIp);
    }
}

std::string DottedToHex(const std::string& dotted) {
    std::istringstream in(dotted);
    std::string hex;
    std::string part;
    while (std::getline(in, part, '.')) {
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02X", std::stoi(part) & 0xFF);
        hex += digits;
    }
    return hex;
}
