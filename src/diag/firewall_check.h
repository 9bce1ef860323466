// SPDX-License-Identifier: MIT
#pragma once
// FirewallCheck: asks the central server to reach this client back — over TCP
// to the file-server port, where the probe must carry the greeting "I am your
// FATHER!", and over UDP to the client's UDP port — and writes the outcome, with
// the client's configuration and the operating system, into a plain-text report
// that the user may mail to the service's support address.
//
// One object per run; run() blocks (call it on a worker thread) and starts the
// probe server's threads and a UDP receiver thread, all joined before it
// returns. The states are atomics shared with those threads.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "diag/port_mapping.h"
#include "protocol/protocol_context.h"

namespace vantrel {

// What the report dialog needs from the front end.
class FirewallReportUi {
 public:
  virtual ~FirewallReportUi() = default;
  // Shows the report; true when the user wants it mailed, with the address and
  // comments entered in the dialog.
  virtual bool showFirewallReport(const std::string& report, std::string& email, std::string& comments) = 0;
};

namespace firewall {
// Results of run() beyond the TCP states 1 to 3.
inline constexpr int kBothReached = 0;
inline constexpr int kNoLocalPort = 4;
inline constexpr int kNoLocalAddress = 5;
inline constexpr int kNoUdpSocket = 6;
inline constexpr int kNoServerAddress = 7;
inline constexpr int kProbeMissing = 11;
// TCP states.
inline constexpr int kNotStarted = -1;
inline constexpr int kCannotConnect = 1;
inline constexpr int kRejected = 2;
inline constexpr int kRequestError = 3;
inline constexpr int kGreeted = 8;
inline constexpr int kWrongGreeting = 9;
// The test request went through but nothing reached the port: closed or blocked.
inline constexpr int kNoProbe = 14;
// UDP states.
inline constexpr int kUdpReceived = 10;
inline constexpr int kUdpGiveUp = 11;
inline constexpr int kUdpTimeout = 12;
inline constexpr int kUdpError = 13;
inline constexpr const char* kGreeting = "I am your FATHER!";
}  // namespace firewall

class FirewallCheck {
 public:
  static constexpr uint16_t kTcpPort = 8323;
  static constexpr uint16_t kUdpPort = 8324;

  explicit FirewallCheck(ProtocolContext& ctx) : m_ctx(ctx) {}

  // The ports probed (8323 and 8324; 0 lets the system pick, for tests) and the
  // waits (20 steps of 500 ms for the datagram, 400 ms to settle, 300 ms polls).
  void setPorts(uint16_t tcp, uint16_t udp);
  void setTiming(std::chrono::milliseconds step, std::chrono::milliseconds settle, std::chrono::milliseconds poll);
  // The TCP port the request asks the server to reach: one that a router in
  // front of this computer forwards to it. 0 (the default): the probe's own.
  void setAnnouncedTcpPort(uint16_t port) { m_announcedTcpPort = port; }
  // What the home router does for this client: the request names the ports
  // it forwards, and the report says what it did in its "Router:" line.
  void setPortMapping(const PortMappingStatus& mapping);
  // The mail server's port for the report (25; tests use their own).
  void setMailPort(uint16_t port) { m_mailPort = port; }

  // 0 both reached; 11 the request went through but a probe did not arrive;
  // 1 to 3 the test request failed; 4 to 7 the check could not start.
  int run();

  // The report text of the last run.
  std::string reportText(int templateVersion) const;
  // Shows the report and mails it when the user confirms. Returns the mail
  // result, or -1 when the user did not confirm.
  int showReport(FirewallReportUi& ui, int templateVersion);
  // Shows the report: the text to mail, with the e-mail address and comments
  // entered, when the user confirms; nothing otherwise.
  std::optional<std::string> reportToMail(FirewallReportUi& ui, int templateVersion);
  // Mails a report to the support address (blocks on the network: a worker's
  // call). "" when it was sent, else what went wrong, for the person.
  std::string mailReport(const std::string& report) const;

  int tcpState() const { return m_tcpState; }
  int udpState() const { return m_udpState; }
  int tcpPingResult() const { return m_pingResult; }

  // The "OS:" text: the kernel's name, release and machine from uname.
  static std::string operatingSystemText();

 private:
  class ProbeServer;
  class ProbeConnection;
  int finish(int result, bool settle);

  ProtocolContext& m_ctx;
  uint16_t m_tcpPort = kTcpPort;
  uint16_t m_udpPort = kUdpPort;
  uint16_t m_announcedTcpPort = 0;
  uint16_t m_announcedUdpPort = 0;
  std::optional<PortMappingStatus> m_mapping;
  uint16_t m_mailPort = 25;
  std::chrono::milliseconds m_step{500};
  std::chrono::milliseconds m_settle{400};
  std::chrono::milliseconds m_poll{300};

  int m_initKind = 0;
  std::string m_ownAddress;
  std::string m_serverAddress;
  std::atomic<int> m_tcpState{firewall::kNotStarted};
  std::atomic<int> m_udpState{firewall::kNotStarted};
  int m_tcpResult = 0;
  std::atomic<int> m_udpResult{0};
  int m_pingResult = firewall::kNotStarted;
  int m_pingCode = 0;
  int64_t m_beforeRequest = 0;
  int64_t m_afterRequest = 0;
  std::atomic<int64_t> m_udpStamp{0};
};

}  // namespace vantrel
