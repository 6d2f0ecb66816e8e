// SPDX-License-Identifier: GPL-3.0-or-later
// How the Windows layer loads and starts the socket library, and what each start-up failure reports.
// Loading and starting are once per process, so every case here runs in a fresh process of its own:
// this program, which never imports the library, and a child of it for the once-per-process start.
#include "net/IdException.h"
#include "net/IdStack.h"
#include "net/IdUDPServer.h"
#include "net/MainThreadQueue.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>

namespace {
using namespace std::chrono_literals;

constexpr const char* kFake = "korv_fake_ws2.dll";

std::string Env(const char* name) {
    char text[MAX_PATH];
    const DWORD n = GetEnvironmentVariableA(name, text, sizeof text);
    return n > 0 && n < sizeof text ? std::string(text, n) : std::string();
}

// "prefix" followed by the system's text for the code, which has no line break left at its end. (Wine
// has no text for the Windows Sockets codes: there it is empty.)
void ExpectPrefixAndSystemText(const std::string& message, const std::string& prefix) {
    ASSERT_EQ(message.substr(0, prefix.size()), prefix) << message;
    EXPECT_EQ(message.find_first_of("\r\n"), std::string::npos) << message;
}

TEST(WinsockStartUp, LoadsTheLibraryAtRunTimeAndReportsEachFailure) {
    ASSERT_EQ(GetModuleHandleA("ws2_32.dll"), nullptr) << "the program imports the socket library";
    EXPECT_EQ(IdWinsockLibraryName(), "WS2_32.DLL");

    try {
        IdRawSocketError();
        FAIL() << "an entry ran before the library was loaded";
    } catch (const EIdWS2StubError& e) {
        EXPECT_EQ(e.Win32Error(), 10093);
        ExpectPrefixAndSystemText(e.what(), "Error on call Winsock2 library function WSAGetLastError: ");
    }

    SetIdWinsockLibraryName("korv-no-such-library.dll");
    try {
        TIdUDPServer server;
        FAIL() << "a missing socket library went unnoticed";
    } catch (const EIdWS2StubError& e) {
        EXPECT_EQ(e.Win32Error(), ERROR_MOD_NOT_FOUND);
        ExpectPrefixAndSystemText(e.what(), "Error on loading Winsock2 library (korv-no-such-library.dll): ");
        EXPECT_GT(std::string(e.what()).size(), std::string("Error on loading Winsock2 library (): ").size() +
                                                    std::string("korv-no-such-library.dll").size())
            << "no text for the load error";
    }
    EXPECT_EQ(TIdComponent::InstanceCount(), 0);

    // A library that refuses to start: reported each time, never recorded as started, not kept loaded.
    SetEnvironmentVariableA("KORV_FAKE_WSA_RESULT", "10091");
    SetIdWinsockLibraryName(kFake);
    for (int attempt = 1; attempt <= 2; ++attempt) {
        try {
            TIdUDPServer server;
            FAIL() << "a failed start went unnoticed";
        } catch (const EIdStackInitializationFailed& e) {
            EXPECT_STREQ(e.what(), "Winsock Initialization Error.");
        }
        EXPECT_EQ(Env("KORV_FAKE_WSA_STARTUPS"), std::to_string(attempt));
        EXPECT_EQ(Env("KORV_FAKE_WSA_VERSION"), "0x0202");
        EXPECT_EQ(GetModuleHandleA(kFake), nullptr);
        EXPECT_EQ(TIdComponent::InstanceCount(), 0);
    }
    EXPECT_EQ(Env("KORV_FAKE_WSA_CLEANUPS"), "");

    // After all that, the real library loads, starts and carries a datagram.
    SetIdWinsockLibraryName("WS2_32.DLL");
    TIdUDPServer server;
    EXPECT_NE(GetModuleHandleA("ws2_32.dll"), nullptr);
    std::string got;
    server.OnUDPRead = [&got](TIdUDPServer&, TMemoryStream& data, TIdSocketHandle&) { got = data.ReadAll(); };
    server.Bindings().Add().IP = "127.0.0.1";
    server.SetActive(true);
    server.SendDatagram("127.0.0.1", server.Bindings()[0].Port, "to myself");
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (got.empty() && std::chrono::steady_clock::now() < deadline) {
        if (!RunPendingCalls()) {
            WaitForSyncEvent(10ms);
        }
    }
    EXPECT_EQ(got, "to myself");
}

TEST(WinsockStartUp, StartsOncePerProcessAndCleansUpAtItsEnd) {
    char exe[MAX_PATH];
    ASSERT_GT(GetModuleFileNameA(nullptr, exe, sizeof exe), 0u);
    char dir[MAX_PATH];
    ASSERT_GT(GetTempPathA(sizeof dir, dir), 0u);
    char log[MAX_PATH];
    ASSERT_NE(GetTempFileNameA(dir, "kws", 0, log), 0u);

    SetEnvironmentVariableA("KORV_STARTUP_CHILD", "1");
    SetEnvironmentVariableA("KORV_FAKE_WSA_CLEANUP_LOG", log);
    std::string command = std::string("\"") + exe + "\" --gtest_filter=WinsockStartUpChild.*";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    const BOOL started =
        CreateProcessA(exe, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process);
    SetEnvironmentVariableA("KORV_STARTUP_CHILD", nullptr);
    SetEnvironmentVariableA("KORV_FAKE_WSA_CLEANUP_LOG", nullptr);
    ASSERT_TRUE(started);
    ASSERT_EQ(WaitForSingleObject(process.hProcess, 60000), WAIT_OBJECT_0);
    DWORD status = 99;
    GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    EXPECT_EQ(status, 0u) << "the child's checks failed (its output is above)";

    std::ifstream in(log);
    std::stringstream content;
    content << in.rdbuf();
    in.close();
    DeleteFileA(log);
    EXPECT_EQ(content.str(), "WSACleanup\n") << "the library is cleaned up once, at process end";
}

// Run by the case above in a process of its own.
TEST(WinsockStartUpChild, LaterLayerObjectsDoNotStartTheLibraryAgain) {
    if (Env("KORV_STARTUP_CHILD").empty()) {
        GTEST_SKIP() << "runs as the child of WinsockStartUp.StartsOncePerProcessAndCleansUpAtItsEnd";
    }
    for (const char* inherited :
         {"KORV_FAKE_WSA_STARTUPS", "KORV_FAKE_WSA_CLEANUPS", "KORV_FAKE_WSA_VERSION"}) {
        SetEnvironmentVariableA(inherited, nullptr);
    }
    SetEnvironmentVariableA("KORV_FAKE_WSA_RESULT", "0");
    SetIdWinsockLibraryName(kFake);
    { TIdUDPServer first; }
    {
        TIdUDPServer second;
        TIdUDPServer third;
        EXPECT_EQ(TIdComponent::InstanceCount(), 2);
    }
    EXPECT_EQ(Env("KORV_FAKE_WSA_STARTUPS"), "1");
    EXPECT_EQ(Env("KORV_FAKE_WSA_VERSION"), "0x0202");
    EXPECT_EQ(Env("KORV_FAKE_WSA_CLEANUPS"), "") << "cleaned up before the process ends";
    EXPECT_NE(GetModuleHandleA(kFake), nullptr);
}
} // namespace
