// SPDX-License-Identifier: GPL-3.0-or-later
// A stand-in for the socket library that has only the start-up entries. WSAStartup answers with the
// code in KORV_FAKE_WSA_RESULT (0 when unset); both entries count their calls in the process
// environment, where the start-up tests read them, and WSACleanup also appends a line to the file
// named by KORV_FAKE_WSA_CLEANUP_LOG, which outlives the process whose end it records.
#define WIN32_LEAN_AND_MEAN // keeps the library's own declarations of these entries out
#include <windows.h>

#include <cstdio>
#include <cstdlib>

namespace {
int ReadNumber(const char* name) {
    char text[32];
    const DWORD n = GetEnvironmentVariableA(name, text, sizeof text);
    return n > 0 && n < sizeof text ? std::atoi(text) : 0;
}

void CountCall(const char* name) {
    char text[32];
    std::snprintf(text, sizeof text, "%d", ReadNumber(name) + 1);
    SetEnvironmentVariableA(name, text);
}
} // namespace

extern "C" __declspec(dllexport) int WSAStartup(WORD version, void*) {
    CountCall("KORV_FAKE_WSA_STARTUPS");
    char text[16];
    std::snprintf(text, sizeof text, "0x%04X", static_cast<unsigned>(version));
    SetEnvironmentVariableA("KORV_FAKE_WSA_VERSION", text);
    return ReadNumber("KORV_FAKE_WSA_RESULT");
}

extern "C" __declspec(dllexport) int WSACleanup() {
    CountCall("KORV_FAKE_WSA_CLEANUPS");
    char path[MAX_PATH];
    const DWORD n = GetEnvironmentVariableA("KORV_FAKE_WSA_CLEANUP_LOG", path, sizeof path);
    if (n > 0 && n < sizeof path) {
        if (FILE* log = std::fopen(path, "a")) {
            std::fputs("WSACleanup\n", log);
            std::fclose(log);
        }
    }
    return 0;
}
