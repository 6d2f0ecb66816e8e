// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The transport's exception family. std::runtime_error stands for the framework's base exception
// class with a message text; what() is the exact message.
#include <stdexcept>
#include <string>

class EIdException : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};
class EIdSocketError : public EIdException {
  public:
    explicit EIdSocketError(int code); // message from SocketErrorText(code)
    int LastError() const { return FCode; }

  private:
    int FCode;
};
class EIdInvalidSocket : public EIdException {
  public:
    EIdInvalidSocket() : EIdException("Cannot allocate socket.") {}
};
class EIdSocketHandleError : public EIdException {
    using EIdException::EIdException;
};
class EIdCouldNotBindSocket : public EIdSocketHandleError {
  public:
    EIdCouldNotBindSocket()
        : EIdSocketHandleError("Could not bind socket. Address and port are already in use.") {}
};
class EIdPackageSizeTooBig : public EIdSocketHandleError {
  public:
    EIdPackageSizeTooBig() : EIdSocketHandleError("Package Size Too Big.") {}
};
class EIdNotAllBytesSent : public EIdSocketHandleError {
  public:
    EIdNotAllBytesSent() : EIdSocketHandleError("Not all bytes sent.") {}
};
class EIdStackError : public EIdException {
    using EIdException::EIdException;
};
class EIdStackInitializationFailed : public EIdStackError {
  public:
    EIdStackInitializationFailed() : EIdStackError("Winsock Initialization Error.") {}
};
class EIdStackSetSizeExceeded : public EIdStackError {
  public:
    EIdStackSetSizeExceeded() : EIdStackError("Set Size Exceeded.") {}
};
class EIdWS2StubError : public EIdException {
  public:
    EIdWS2StubError(const std::string& msg, int code) : EIdException(msg), FCode(code) {}
    int Win32Error() const { return FCode; }

  private:
    int FCode;
};

// "Socket Error # %d\r\n%s" with the Windows Sockets text for the code (empty for unknown codes).
std::string SocketErrorText(int code);
