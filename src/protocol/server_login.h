// SPDX-License-Identifier: MIT
#pragma once
// Finding the central server, logging in and out, and the HTTP ping request.
// The login proves the password without sending it: it derives a fresh session
// key from the password and a random salt and sends the salt and the user name
// encrypted under that key. Any thread; each call makes its own connection.

#include <string>
#include <string_view>

#include "net/client_request.h"
#include "protocol/protocol_context.h"

namespace vantrel {

// Codes of the login beyond the transport and server codes.
namespace login {
inline constexpr int kNoChecksum = 212;
inline constexpr int kSharingElsewhere = 213;
inline constexpr int kNoClientId = 218;
inline constexpr int kPlatformVersion = 201;  // the client's own version
}  // namespace login

// GET of "/server.html" on the service's web host; the first body line with
// "&server=" gives the central server's host, stored as "serveraddress".
// 1 found, 0 not.
int DiscoverServer(ProtocolContext& ctx);

// Discovery (when "autofind" is on), the server target, then LoginRequest.
int Login(ProtocolContext& ctx, std::string_view user, std::string_view password,
          const ClientRequest::Progress* progress);

// The "action=login" exchange against the current server target.
int LoginRequest(ProtocolContext& ctx, std::string_view user, std::string_view password,
                 const ClientRequest::Progress* progress);

// "action=logout"; 0 without sending when not connected.
// The login of `user` is in force: the current user and password of the
// client state are set and it counts as connected. LoginRequest ends with it;
// after 213 (sharing from another address) the client calls it once the person
// chose to take the files over, so the start goes on as after any login.
void AcceptLogin(ProtocolContext& ctx, std::string_view user, std::string_view password);

int LogoutRequest(ProtocolContext& ctx);

// "action=ping" over HTTP; the raw reply (at most kPingReplyBytes) goes to `reply`.
inline constexpr std::size_t kPingReplyBytes = 300;
// `progress` (optional) may stop the request while it connects or reads.
int PingRequest(ProtocolContext& ctx, std::string& reply, const ClientRequest::Progress* progress = nullptr);

// This machine's address for the server: `socketAddress` (the local address
// of a connection to it); without one, the host name resolved unless that
// gives a loopback address.
std::string localAddressFor(const std::string& socketAddress);

}  // namespace vantrel
