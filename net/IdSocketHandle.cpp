// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/IdSocketHandle.h"

#include "net/IdException.h"
#include "net/IdStack.h"

TIdSocketHandle::~TIdSocketHandle() {
    CloseSocket();
}

void TIdSocketHandle::AllocateSocket() {
    CloseSocket();
    const TIdSocketHandleType s = TIdStack::Instance().NewSocketHandle();
    if (s == IdInvalidSocket) {
        throw EIdInvalidSocket();
    }
    Socket = s;
    SocketAllocated = true;
}

void TIdSocketHandle::Bind() {
    TIdStack& stack = TIdStack::Instance();
    uint8_t address[4] = {0, 0, 0, 0};
    if (!IP.empty() && !ParseDottedQuad(IP, address)) {
        throw EIdSocketError(10049); // not an address of this machine in any form
    }
    if (stack.Bind(Socket, address, Port) != 0) {
        const int code = stack.WSGetLastError();
        if (code == WSAEADDRINUSE_Code) {
            throw EIdCouldNotBindSocket();
        }
        throw EIdSocketError(code);
    }
    if (stack.GetSockName(Socket, IP, Port) != 0) {
        throw EIdSocketError(stack.WSGetLastError());
    }
}

void TIdSocketHandle::CloseSocket() {
    if (!SocketAllocated) {
        return;
    }
    SocketAllocated = false;
    TIdStack& stack = TIdStack::Instance();
    // Failures while closing have no one to report to: the socket is gone either way.
    stack.Shutdown(Socket, IdShutdownSend);
    stack.Close(Socket);
    Socket = IdInvalidSocket;
}

void TIdSocketHandle::SetBroadcastFlag(bool on) {
    TIdStack& stack = TIdStack::Instance();
    if (stack.SetBroadcast(Socket, on) != 0) {
        throw EIdSocketError(stack.WSGetLastError());
    }
}

TIdSocketHandle& TIdSocketHandles::Add() {
    FItems.push_back(std::make_unique<TIdSocketHandle>(DefaultPort));
    return *FItems.back();
}
