#pragma once
// Every difference between Winsock and BSD sockets lives here; the rest of net/ is written against
// these names only.
#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>

using TIdSocketHandleType = SOCKET;
inline constexpr TIdSocketHandleType IdInvalidSocket = INVALID_SOCKET;
using TIdSockLen = int;
inline constexpr int IdShutdownSend = SD_SEND;
inline constexpr int IdSendFlags = 0;

// The raw code of the calling thread's last failed socket call (already a Windows Sockets code here).
inline int IdRawSocketError() {
    return WSAGetLastError();
}
inline int IdCloseSocket(TIdSocketHandleType s) {
    return closesocket(s);
}
inline bool IdIsInterrupted(int raw) {
    return raw == WSAEINTR;
}
#else
#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

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
