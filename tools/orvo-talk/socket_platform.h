// The platform's socket headers, for the socket layer's own files only.
#ifndef ORVO_TALK_TOOL_SOCKET_PLATFORM_H
#define ORVO_TALK_TOOL_SOCKET_PLATFORM_H

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

#include <string>

#include "socket.h"

namespace orvo::talktool {

// Why a connection attempt ended without an answer: a stop request, or the time-out.
std::string ConnectGaveUpText(const Endpoint &to, int timeoutMs, bool stopped);

} // namespace orvo::talktool

#endif
