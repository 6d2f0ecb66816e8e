// SPDX-License-Identifier: GPL-3.0-or-later
// The Windows Sockets layer. The socket library is loaded at run time, started once per process and
// cleaned up at process end; each of its entries is looked up by name the first time it is called.
// The program does not import the library, so a machine without it still starts far enough to say so.
#include "net/IdException.h"
#include "net/IdStack.h"
#include "net/PrivateNetwork.h"

#include <iphlpapi.h>
#include <mswsock.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cstring>
#include <mutex>
#include <optional>

namespace {
// Every entry of the library that the layer calls, in one list: the enum, the names and the cache of
// looked-up addresses are all built from it.
#define IDWS_ENTRIES(X)                                                                                      \
    X(WSAStartup)                                                                                            \
    X(WSACleanup)                                                                                            \
    X(WSAGetLastError)                                                                                       \
    X(WSAIoctl)                                                                                              \
    X(WSADuplicateSocketA)                                                                                   \
    X(WSASocketA)                                                                                            \
    X(socket)                                                                                                \
    X(bind)                                                                                                  \
    X(connect)                                                                                               \
    X(getsockname)                                                                                           \
    X(setsockopt)                                                                                            \
    X(getsockopt)                                                                                            \
    X(ioctlsocket)                                                                                           \
    X(sendto)                                                                                                \
    X(send)                                                                                                  \
    X(recvfrom)                                                                                              \
    X(recv)                                                                                                  \
    X(select)                                                                                                \
    X(shutdown)                                                                                              \
    X(closesocket)                                                                                           \
    X(getaddrinfo)                                                                                           \
    X(freeaddrinfo)

#define IDWS_ENUM(name) name,
#define IDWS_NAME(name) #name,
enum class TWsEntry { IDWS_ENTRIES(IDWS_ENUM) Count };
constexpr const char* kEntryNames[] = {IDWS_ENTRIES(IDWS_NAME)};
constexpr std::size_t kEntryCount = static_cast<std::size_t>(TWsEntry::Count);

constexpr int WSANOTINITIALISED_Code = 10093;

std::string GLibraryName = "WS2_32.DLL";
std::atomic<HMODULE> GModule{nullptr};
std::atomic<FARPROC> GEntries[kEntryCount];

// The system's text for a code, without the line break that it ends with.
std::string SystemText(DWORD code) {
    char buffer[1024];
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                             buffer, sizeof buffer, nullptr);
    while (n > 0 && static_cast<unsigned char>(buffer[n - 1]) <= ' ') {
        --n;
    }
    return std::string(buffer, n);
}

FARPROC LookUp(TWsEntry entry) {
    const auto index = static_cast<std::size_t>(entry);
    FARPROC proc = GEntries[index].load(std::memory_order_acquire);
    if (proc != nullptr) {
        return proc;
    }
    // The lookup must not overwrite the code of the call that failed just before it: the first call of
    // WSAGetLastError comes right after a failure.
    const DWORD saved = GetLastError();
    const HMODULE module = GModule.load(std::memory_order_acquire);
    const std::string prefix = std::string("Error on call Winsock2 library function ") + kEntryNames[index];
    if (module == nullptr) {
        throw EIdWS2StubError(prefix + ": " + SystemText(WSANOTINITIALISED_Code), WSANOTINITIALISED_Code);
    }
    proc = GetProcAddress(module, kEntryNames[index]);
    if (proc == nullptr) {
        const DWORD code = GetLastError();
        throw EIdWS2StubError(prefix + ": " + SystemText(code), static_cast<int>(code));
    }
    GEntries[index].store(proc, std::memory_order_release);
    ::SetLastError(saved);
    return proc;
}

// Ws<TWsEntry::socket, decltype(&::socket)>(): the entry as a typed function. decltype does not
// reference the imported function, so nothing here makes the program import the library.
template <TWsEntry E, typename F> F Ws() {
    return reinterpret_cast<F>(reinterpret_cast<void*>(LookUp(E)));
}
#define WS(name) Ws<TWsEntry::name, decltype(&::name)>()

// The library's state for the process: loaded and started on first use, cleaned up at process end.
class TWinsockLibrary {
  public:
    ~TWinsockLibrary() {
        std::lock_guard lock(FLock);
        if (FStarted) {
            try {
                WS(WSACleanup)();
            } catch (...) {
                // the library went away under us: nothing left to clean
            }
            FStarted = false;
        }
        Unload();
    }

    void Start() {
        std::lock_guard lock(FLock);
        if (FStarted) {
            return;
        }
        if (GModule.load() == nullptr) {
            const HMODULE module = LoadLibraryA(GLibraryName.c_str());
            if (module == nullptr) {
                const DWORD code = GetLastError();
                std::string message = "Error on loading Winsock2 library (" + GLibraryName + ")";
                if (code != 0) {
                    message += ": " + SystemText(code);
                }
                throw EIdWS2StubError(message, static_cast<int>(code));
            }
            GModule.store(module, std::memory_order_release);
        }
        WSADATA data;
        if (WS(WSAStartup)(MAKEWORD(2, 2), &data) != 0) {
            // Not recorded: the next layer object loads and starts from the beginning.
            Unload();
            throw EIdStackInitializationFailed();
        }
        FStarted = true;
    }

  private:
    void Unload() {
        const HMODULE module = GModule.exchange(nullptr);
        for (auto& entry : GEntries) {
            entry.store(nullptr);
        }
        if (module != nullptr) {
            FreeLibrary(module);
        }
    }

    std::mutex FLock;
    bool FStarted = false;
};
TWinsockLibrary GLibrary;

uint32_t HostToNet32(uint32_t v) {
    return (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
}

// The adapter list comes from the IP helper library, loaded like the socket library and for the same
// reason; a system without it (or without the entry) lists no adapters, and the endpoint then sends
// its one datagram the way the routing table picks. Loaded once and kept to process end.
using TGetAdaptersAddresses = decltype(&::GetAdaptersAddresses);
TGetAdaptersAddresses AdapterLister() {
    static const TGetAdaptersAddresses lister = [] {
        const HMODULE module = LoadLibraryA("IPHLPAPI.DLL");
        return module == nullptr ? nullptr
                                 : reinterpret_cast<TGetAdaptersAddresses>(reinterpret_cast<void*>(
                                       GetProcAddress(module, "GetAdaptersAddresses")));
    }();
    return lister;
}

// The adapters with their addresses of one family (AF_UNSPEC: all), in a buffer to walk with
// FirstAdapter; an empty buffer when there is no adapter at all (ERROR_NO_DATA), none on a failure.
std::optional<std::vector<unsigned char>> AdapterTable(TGetAdaptersAddresses list, ULONG family) {
    const ULONG flags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
    // The size asked for can grow between the two calls when an adapter comes up meanwhile.
    std::vector<unsigned char> buffer(16 * 1024);
    ULONG result = ERROR_BUFFER_OVERFLOW;
    for (int attempt = 0; attempt < 3 && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
        ULONG size = static_cast<ULONG>(buffer.size());
        result = list(family, flags, nullptr, reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
        if (result == ERROR_BUFFER_OVERFLOW) {
            buffer.resize(size);
        }
    }
    if (result == ERROR_NO_DATA) {
        return std::vector<unsigned char>();
    }
    if (result != NO_ERROR) {
        return std::nullopt;
    }
    return buffer;
}

const IP_ADAPTER_ADDRESSES* FirstAdapter(const std::vector<unsigned char>& table) {
    return table.empty() ? nullptr : reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(table.data());
}

// The friendly name ("Ethernet", "Wi-Fi"), the one the network settings and `netsh` show, in the
// system's code page: the command line reaches main in that code page, so a name typed there compares
// equal.
std::string AdapterName(const IP_ADAPTER_ADDRESSES& adapter) {
    const wchar_t* wide = adapter.FriendlyName;
    if (wide == nullptr || *wide == L'\0') {
        return adapter.AdapterName != nullptr ? adapter.AdapterName : "";
    }
    const int n = WideCharToMultiByte(CP_ACP, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1) {
        return adapter.AdapterName != nullptr ? adapter.AdapterName : "";
    }
    std::string name(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide, -1, name.data(), n, nullptr, nullptr);
    name.resize(static_cast<std::size_t>(n - 1));
    return name;
}

int ClampedLength(std::size_t size) {
    return size > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(size);
}

// A read set as select takes it, large enough for the most bindings one listener may have plus its
// wake-up socket (the library's own fd_set holds 64).
struct TIdFdSet {
    u_int fd_count;
    SOCKET fd_array[IdMaxSelectSockets + 1];
};

class TIdStackWindows : public TIdStack {
  public:
    TIdStackWindows() { GLibrary.Start(); }

    TIdSocketHandleType NewSocketHandle() override {
        const SOCKET s = WS(socket)(AF_INET, SOCK_DGRAM, 0);
        if (s == INVALID_SOCKET) {
            Fail();
            return s;
        }
        // Without it a later socket that asks for address reuse could bind the same port and take
        // datagrams meant for this one; with it, a second endpoint on the port fails to bind as on
        // Linux.
        const BOOL exclusive = TRUE;
        if (WS(setsockopt)(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive),
                           sizeof exclusive) != 0) {
            Fail();
            WS(closesocket)(s);
            return INVALID_SOCKET;
        }
        // An ICMP "port unreachable" for an earlier send would otherwise fail the next receive with
        // WSAECONNRESET; BSD sockets never report it on an unconnected socket. Best effort: without it
        // the listener only drops that one failed read.
        BOOL report = FALSE;
        DWORD returned = 0;
        WS(WSAIoctl)(s, SIO_UDP_CONNRESET, &report, sizeof report, nullptr, 0, &returned, nullptr, nullptr);
        return s;
    }

    TIdSocketHandleType Duplicate(TIdSocketHandleType s) override {
        WSAPROTOCOL_INFOA info{};
        if (WS(WSADuplicateSocketA)(s, GetCurrentProcessId(), &info) != 0) {
            Fail();
            return INVALID_SOCKET;
        }
        const SOCKET d = WS(WSASocketA)(FROM_PROTOCOL_INFO, FROM_PROTOCOL_INFO, FROM_PROTOCOL_INFO, &info, 0,
                                        WSA_FLAG_OVERLAPPED);
        if (d == INVALID_SOCKET) {
            Fail();
        }
        return d;
    }

    int Bind(TIdSocketHandleType s, const uint8_t (&ip)[4], int32_t port) override {
        const sockaddr_in addr = IdMakeAddress(ip, port);
        if (WS(bind)(s, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
            return Fail();
        }
        return 0;
    }

    int GetSockName(TIdSocketHandleType s, std::string& ip, int32_t& port) override {
        sockaddr_in addr{};
        int len = sizeof addr;
        if (WS(getsockname)(s, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
            return Fail();
        }
        IdReadAddress(addr, ip, port);
        return 0;
    }

    int SetBroadcast(TIdSocketHandleType s, bool on) override {
        const int value = on ? -1 : 0;
        if (WS(setsockopt)(s, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&value),
                           sizeof value) != 0) {
            return Fail();
        }
        return 0;
    }

    int SendTo(TIdSocketHandleType s, const void* data, std::size_t size, const uint8_t (&ip)[4],
               int32_t port) override {
        const sockaddr_in addr = IdMakeAddress(ip, port);
        int n;
        do {
            n = WS(sendto)(s, static_cast<const char*>(data), ClampedLength(size), IdSendFlags,
                           reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
        } while (n == SOCKET_ERROR && IdIsInterrupted(IdRawSocketError()));
        return n == SOCKET_ERROR ? Fail() : n;
    }

    int RecvFrom(TIdSocketHandleType s, void* buffer, std::size_t size, std::string& ip,
                 int32_t& port) override {
        // Here a datagram longer than the buffer fails with WSAEMSGSIZE by itself and is consumed. The
        // read may block: only the listener reads these sockets, and select reports one readable only
        // when a datagram is queued, which then stays queued until this read takes it.
        sockaddr_in from{};
        int len = sizeof from;
        int n;
        do {
            n = WS(recvfrom)(s, static_cast<char*>(buffer), ClampedLength(size), 0,
                             reinterpret_cast<sockaddr*>(&from), &len);
        } while (n == SOCKET_ERROR && IdIsInterrupted(IdRawSocketError()));
        if (n == SOCKET_ERROR) {
            return Fail();
        }
        IdReadAddress(from, ip, port);
        return n;
    }

    // Batches come from the base layer's loop of reads, each after a zero wait that finds a datagram
    // queued, since the reads here may block. The receive buffer may be as large as asked for.
    int SetReceiveBufferSize(TIdSocketHandleType s, int bytes) override {
        WS(setsockopt)(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&bytes), sizeof bytes);
        int granted = 0;
        int len = sizeof granted;
        return WS(getsockopt)(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<char*>(&granted), &len) == 0
                   ? granted
                   : 0;
    }

    int Select(std::vector<TIdSocketHandleType>& readSet, int timeoutMs) override {
        if (readSet.size() > IdMaxSelectSockets + 1) {
            SetLastError(WSAEINVAL);
            return -1;
        }
        TIdFdSet set{};
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        int n;
        for (;;) {
            set.fd_count = static_cast<u_int>(readSet.size());
            std::copy(readSet.begin(), readSet.end(), set.fd_array);
            const auto left = std::chrono::duration_cast<std::chrono::microseconds>(
                deadline - std::chrono::steady_clock::now());
            const long long us = left.count() > 0 ? left.count() : 0;
            timeval timeout{static_cast<long>(us / 1000000), static_cast<long>(us % 1000000)};
            n = WS(select)(0, reinterpret_cast<fd_set*>(&set), nullptr, nullptr, &timeout);
            if (n != SOCKET_ERROR || !IdIsInterrupted(IdRawSocketError())) {
                break;
            }
        }
        if (n == SOCKET_ERROR) {
            return Fail();
        }
        // select leaves the readable ones in the set in an order of its own: keep the caller's.
        std::vector<TIdSocketHandleType> ready;
        for (const TIdSocketHandleType s : readSet) {
            if (std::find(set.fd_array, set.fd_array + set.fd_count, s) != set.fd_array + set.fd_count) {
                ready.push_back(s);
            }
        }
        readSet.swap(ready);
        return n;
    }

    std::vector<TIdBroadcastAdapter> BroadcastAdapters() override {
        const TGetAdaptersAddresses list = AdapterLister();
        if (list == nullptr) {
            return {};
        }
        const auto table = AdapterTable(list, AF_INET);
        if (!table) {
            return {};
        }
        std::vector<TIdBroadcastAdapter> adapters;
        for (const IP_ADAPTER_ADDRESSES* entry = FirstAdapter(*table); entry != nullptr;
             entry = entry->Next) {
            // "Up" is Windows' word for connected: a cable out or a wireless adapter not associated
            // reports down. Tunnels and loopback have no segment to broadcast on.
            if (entry->OperStatus != IfOperStatusUp || entry->IfType == IF_TYPE_SOFTWARE_LOOPBACK ||
                entry->IfType == IF_TYPE_TUNNEL || entry->IfIndex == 0) {
                continue;
            }
            // One datagram per adapter however many addresses it has: the first one is its source.
            for (const IP_ADAPTER_UNICAST_ADDRESS* address = entry->FirstUnicastAddress; address != nullptr;
                 address = address->Next) {
                const sockaddr* raw = address->Address.lpSockaddr;
                if (raw == nullptr || raw->sa_family != AF_INET) {
                    continue;
                }
                TIdBroadcastAdapter adapter;
                adapter.Name = AdapterName(*entry);
                adapter.Index = entry->IfIndex;
                std::memcpy(adapter.Address, &reinterpret_cast<const sockaddr_in*>(raw)->sin_addr, 4);
                for (unsigned bit = 0; bit < 32 && bit < address->OnLinkPrefixLength; ++bit) {
                    adapter.Mask[bit / 8] |= static_cast<uint8_t>(0x80u >> (bit % 8));
                }
                adapters.push_back(std::move(adapter));
                break;
            }
        }
        return adapters;
    }

    // The interface is chosen per send on the endpoint's own socket, so answers still come to the one
    // binding on port 60001, and it is cleared again right after, so a later datagram to one device
    // goes the way the routing table picks. Only the thread that sends uses the option: the listener
    // only reads, and what is received does not depend on it.
    int SendToThrough(TIdSocketHandleType s, const void* data, std::size_t size, const uint8_t (&ip)[4],
                      int32_t port, const TIdBroadcastAdapter& adapter) override {
        // For IPv4 the library takes the index in network byte order.
        const DWORD index = HostToNet32(adapter.Index);
        if (WS(setsockopt)(s, IPPROTO_IP, IP_UNICAST_IF, reinterpret_cast<const char*>(&index),
                           sizeof index) != 0) {
            return Fail();
        }
        const int n = SendTo(s, data, size, ip, port);
        const int code = n < 0 ? WSGetLastError() : 0;
        const DWORD any = 0;
        WS(setsockopt)(s, IPPROTO_IP, IP_UNICAST_IF, reinterpret_cast<const char*>(&any), sizeof any);
        if (n < 0) {
            SetLastError(code);
        }
        return n;
    }

    void Shutdown(TIdSocketHandleType s, int how) override { WS(shutdown)(s, how); }

    void Close(TIdSocketHandleType s) override { WS(closesocket)(s); }

    std::string ResolveHost(const std::string& host) override {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_DGRAM;
        addrinfo* result = nullptr;
        if (WS(getaddrinfo)(host.c_str(), nullptr, &hints, &result) != 0 || result == nullptr) {
            return {};
        }
        std::string ip;
        int32_t port = 0;
        IdReadAddress(*reinterpret_cast<const sockaddr_in*>(result->ai_addr), ip, port);
        WS(freeaddrinfo)(result);
        return ip;
    }

    // No pipes to wait on here: two UDP sockets on the loopback, each connected to the other, so the
    // reader takes datagrams from the writer only and sits in the same select as the bindings.
    std::pair<TIdScopedSocket, TIdScopedSocket> NewWakePair() override {
        TIdScopedSocket reader(WS(socket)(AF_INET, SOCK_DGRAM, 0));
        TIdScopedSocket writer(WS(socket)(AF_INET, SOCK_DGRAM, 0));
        const uint8_t loopback[4] = {127, 0, 0, 1};
        const sockaddr_in any = IdMakeAddress(loopback, 0);
        sockaddr_in readerAddr{};
        sockaddr_in writerAddr{};
        int readerLen = sizeof readerAddr;
        int writerLen = sizeof writerAddr;
        u_long nonblocking = 1;
        if (reader.Get() == INVALID_SOCKET || writer.Get() == INVALID_SOCKET ||
            WS(bind)(reader.Get(), reinterpret_cast<const sockaddr*>(&any), sizeof any) != 0 ||
            WS(bind)(writer.Get(), reinterpret_cast<const sockaddr*>(&any), sizeof any) != 0 ||
            WS(getsockname)(reader.Get(), reinterpret_cast<sockaddr*>(&readerAddr), &readerLen) != 0 ||
            WS(getsockname)(writer.Get(), reinterpret_cast<sockaddr*>(&writerAddr), &writerLen) != 0 ||
            WS(connect)(writer.Get(), reinterpret_cast<const sockaddr*>(&readerAddr), readerLen) != 0 ||
            WS(connect)(reader.Get(), reinterpret_cast<const sockaddr*>(&writerAddr), writerLen) != 0 ||
            WS(ioctlsocket)(reader.Get(), FIONBIO, &nonblocking) != 0 ||
            WS(ioctlsocket)(writer.Get(), FIONBIO, &nonblocking) != 0) {
            Fail();
            throw EIdSocketError(WSGetLastError());
        }
        return {std::move(reader), std::move(writer)};
    }

    void Wake(TIdSocketHandleType writer) override {
        const char byte = 0;
        // Nonblocking: when the pair is full the reader is already due to wake.
        WS(send)(writer, &byte, 1, 0);
    }

    void DrainWake(TIdSocketHandleType reader) override {
        char buf[16];
        while (WS(recv)(reader, buf, sizeof buf, 0) > 0) {
        }
    }

  private:
    int Fail() {
        SetLastError(IdRawSocketError());
        return -1;
    }
};
} // namespace

int IdRawSocketError() {
    return WS(WSAGetLastError)();
}

int IdCloseSocket(TIdSocketHandleType s) {
    return WS(closesocket)(s);
}

const std::string& IdWinsockLibraryName() {
    return GLibraryName;
}

void SetIdWinsockLibraryName(const std::string& name) {
    GLibraryName = name;
}

std::unique_ptr<TIdStack> NewPlatformStack() {
    return std::make_unique<TIdStackWindows>();
}

std::optional<std::vector<std::string>> NetworkInterfaceNames() {
    // A load of its own, released at once: a test program looks before any of its cases runs, and one
    // of them checks what the process has loaded.
    const HMODULE module = LoadLibraryA("IPHLPAPI.DLL");
    if (module == nullptr) {
        return std::nullopt;
    }
    const auto list = reinterpret_cast<TGetAdaptersAddresses>(
        reinterpret_cast<void*>(GetProcAddress(module, "GetAdaptersAddresses")));
    std::optional<std::vector<std::string>> names;
    if (list != nullptr) {
        if (const auto table = AdapterTable(list, AF_UNSPEC)) {
            names.emplace();
            for (const IP_ADAPTER_ADDRESSES* entry = FirstAdapter(*table); entry != nullptr;
                 entry = entry->Next) {
                names->push_back(AdapterName(*entry));
            }
        }
    }
    FreeLibrary(module);
    return names;
}
