// SPDX-License-Identifier: MIT
#pragma once
// The checks that guard the file server's commands: the command token (pages,
// unknown GET commands, every POST), the download token (getfile, getfileinfo),
// and the browser check that keeps pages of other web sites from driving this
// server through a visitor's browser. Pure functions; thread-safe.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fileserver/request_params.h"
#include "fileserver/request_reader.h"

namespace vantrel {

struct RequesterAddresses {
  std::string requester;                // the peer's dotted address
  std::string own;                      // this computer's local address
  std::optional<std::string> external;  // as the central server saw us, when it differs
};

// True for 127.0.0.1 and the own address: requests from this computer.
bool isLocalRequester(const RequesterAddresses& a);

// The command token: 0 when allowed, else 43 to 49. `token` is the first value
// of the "token" parameter (nullptr when none).
int checkCommandToken(const std::string* token, const RequesterAddresses& a);

// The download token: 0 when allowed, else 26 to 30. `groupId` is the file's.
int checkDownloadToken(const std::string* token, const RequesterAddresses& a, int groupId);

// Where a request may come from, as far as browsers tell.
struct TrustedHosts {
  std::vector<std::string> ownAddresses;  // every address of this computer, loopback included
  std::string hostName;                   // this computer's host name
  std::string centralServerHost;          // the central server's host name
};

// Refuses (false) a request that a browser sent on behalf of another site: an
// Origin (or, without one, Referer) naming a host other than "localhost", an
// address of this computer (loopback included) or the central server;
// Sec-Fetch-Site "cross-site"; or a Host the next check refuses. Requests
// without these headers pass.
bool browserMayDrive(const std::vector<HeaderLine>& headers, const TrustedHosts& trusted);

// The Host rule, for every command a browser can reach: a Host header, when
// sent, names "localhost", our host name or an IP address. A page whose own
// name was rebound to this computer sends its name and is refused; peers and
// the central server address us by IP.
bool hostHeaderAllowed(const std::vector<HeaderLine>& headers, const TrustedHosts& trusted);

// The host of an absolute URL or an Origin ("http://h:1/x" gives "h"); "" if none.
std::string hostOfUrl(std::string_view url);

}  // namespace vantrel
