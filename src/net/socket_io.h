// SPDX-License-Identifier: MIT
#pragma once
// Socket helpers shared by the file server's connections and the HTTP client:
// line reading with a peek and a wait, line-end trimming, draining, sends in
// send-buffer-sized pieces, the peer's dotted address. All functions work on a
// connected TCP socket that the caller owns (a UniqueFd); they keep no state and
// may be called from any thread, one thread per socket at a time. Sends never
// raise SIGPIPE: a closed peer shows as a failed send.

#include <netinet/in.h>

#include <chrono>
#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace vantrel {

using SocketDeadline = std::chrono::steady_clock::time_point;
inline constexpr SocketDeadline kNoDeadline = SocketDeadline::max();

// Waits until the socket has data (or the peer closed) for at most `timeout`.
// Returns false on time-out or error. Uses poll, so any descriptor number works.
bool waitReadable(int fd, std::chrono::milliseconds timeout);

// Reads into `buffer` at most buffer.size() - 1 bytes, up to and including the
// next CR LF, and terminates them with a zero. Before each receive it waits up to
// `waitSeconds` for data when that is above 0 and stops when none comes. It peeks
// at what is waiting and takes exactly the bytes up to and including the CR LF, so
// whatever follows the line stays in the socket. `deadline` bounds the whole line,
// so a peer that trickles bytes cannot hold the caller longer than that.
// Returns the number of bytes stored (CR LF included); 0 when nothing came.
std::size_t readLine(int fd, std::span<char> buffer, int waitSeconds,
                     SocketDeadline deadline = kNoDeadline);

// The same into a string: at most maxBytes - 1 bytes, as with a buffer of maxBytes.
std::size_t readLine(int fd, std::string& line, std::size_t maxBytes, int waitSeconds,
                     SocketDeadline deadline = kNoDeadline);

// Removes the line end: when the second-to-last character is CR or LF the last two
// characters go, else when the last one is CR or LF it goes.
void trimLineEnd(std::string& line);
std::string_view withoutLineEnd(std::string_view line);

// True when the socket has more than 0 bytes readable right now (never waits).
bool dataWaiting(int fd);

// Receives and discards what is waiting, 256 bytes at a time, so that the peer
// sees an orderly close rather than a reset.
void drain(int fd);

// One send of the whole text / of `size` bytes. Returns the count sent or -1.
long sendText(int fd, std::string_view text);
long sendBytes(int fd, const void* data, std::size_t size);

// Sends everything in pieces of min(send-buffer size, remaining), carrying on
// after partial sends. Returns false when a send fails before all is sent.
bool sendInPieces(int fd, std::span<const char> data);

// The socket's send-buffer size option, 0 when it cannot be read.
int sendBufferSize(int fd);

// Receive and send time-outs of the socket (SO_RCVTIMEO / SO_SNDTIMEO).
bool setSocketTimeouts(int fd, std::chrono::milliseconds timeout);

// The dotted IPv4 text of an address ("127.0.0.1"); nullopt when it does not fit
// 16 characters or the address is not IPv4.
std::optional<std::string> peerAddressText(const sockaddr_in& address);
// The same for the peer of a connected socket.
std::optional<std::string> peerAddressText(int fd);

// The dotted address of the interface that traffic to the IPv4 address and
// port leaves from, as the routing table says; "" when there is no route or
// the address is not dotted IPv4. Sends nothing.
std::string interfaceAddressToward(const std::string& dottedAddress, uint16_t port);

// Ports a second client on this computer moves to when the configured one is
// taken: the configured port, then the next ones up.
inline constexpr int kPortSearchSpan = 20;

// The first TCP port from `from` up (at most `tries` ports, never above 65535)
// that a listener on any address could bind now (as TcpServer binds, address
// reuse on); -1 when none could. Another program may take it before we do.
int firstFreeTcpPort(int from, int tries = kPortSearchSpan);

// A TCP port that the system hands a listener on any address now (as binding
// port 0 does); -1 when it hands none. Another program may take it before we do.
int systemPickedTcpPort();

}  // namespace vantrel
