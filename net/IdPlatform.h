// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Every difference between Windows and POSIX that net/ meets (Winsock against BSD sockets, and the
// main-thread hand-off's signal) lives here; the rest of net/ is written against these names only.
#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
// Types and constants only: the socket library is loaded at run time (TIdStackWindows), so nothing in
// net/ may call into it except through the entries that the layer looks up. The program does not
// link against the library at all, which makes a direct call a link error.
#include <winsock2.h>
#include <windows.h>
#include <ws2tcpip.h>

#include <stdexcept>
#include <string>

using TIdSocketHandleType = SOCKET;
inline constexpr TIdSocketHandleType IdInvalidSocket = INVALID_SOCKET;
using TIdSockLen = int;
inline constexpr int IdShutdownSend = SD_SEND;
inline constexpr int IdSendFlags = 0;

// The raw code of the calling thread's last failed socket call (already a Windows Sockets code here).
// Both go through the run-time entries of the socket library (IdStackWindows.cpp).
int IdRawSocketError();
int IdCloseSocket(TIdSocketHandleType s);
inline bool IdIsInterrupted(int raw) {
    return raw == WSAEINTR;
}

// The signal each thread waits on until the main thread has run its call. Not std::binary_semaphore:
// without futexes, GCC 12's library builds it on an atomic wait that can miss a wake-up and leave the
// waiter asleep for good. A kernel semaphore also lets the waiting thread end, and close it, while the
// main thread is still returning from the release.
class TIdThreadSignal {
  public:
    explicit TIdThreadSignal(long initial) : FHandle(CreateSemaphoreA(nullptr, initial, 1, nullptr)) {
        // Without it the waiter would not wait at all and leave while its call is still to run.
        if (FHandle == nullptr) {
            throw std::runtime_error("Cannot create the main-thread signal.");
        }
    }
    ~TIdThreadSignal() { CloseHandle(FHandle); }
    TIdThreadSignal(const TIdThreadSignal&) = delete;
    TIdThreadSignal& operator=(const TIdThreadSignal&) = delete;
    void acquire() { WaitForSingleObject(FHandle, INFINITE); }
    void release() { ReleaseSemaphore(FHandle, 1, nullptr); }

  private:
    HANDLE FHandle;
};

// The file the socket library is loaded from, "WS2_32.DLL". Settable so that a test can show what a
// missing or failing library does; read when the first layer object of the process starts it.
const std::string& IdWinsockLibraryName();
void SetIdWinsockLibraryName(const std::string& name);
#else
#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <semaphore>
#include <sys/socket.h>
#include <unistd.h>

using TIdThreadSignal = std::binary_semaphore;

using TIdSocketHandleType = int;
inline constexpr TIdSocketHandleType IdInvalidSocket = -1;
using TIdSockLen = socklen_t;
inline constexpr int IdShutdownSend = SHUT_WR;
// A send on a socket whose sending side was shut down must fail with a code, not kill the process.
inline constexpr int IdSendFlags = MSG_NOSIGNAL;

// The raw code of the calling thread's last failed socket call (errno here; see TIdStackPosix for
// its translation into the Windows Sockets code that every message carries).
inline int IdRawSocketError() {
    return errno;
}
inline int IdCloseSocket(TIdSocketHandleType s) {
    return ::close(s);
}
inline bool IdIsInterrupted(int raw) {
    return raw == EINTR;
}
#endif
