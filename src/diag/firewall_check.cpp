// SPDX-License-Identifier: MIT
#include "diag/firewall_check.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <strings.h>
#include <sys/socket.h>
#include <sys/utsname.h>

#include <cstdio>
#include <ctime>
#include <memory>
#include <thread>

#include "core/deployment.h"
#include "diag/mail_sender.h"
#include "net/client_request.h"
#include "net/socket_io.h"
#include "net/tcp_server.h"
#include "platform/unique_fd.h"
#include "protocol/server_login.h"

namespace vantrel {

namespace {

int64_t nowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

std::string format(const char* fmt, auto... args) {
  char text[512];
  std::snprintf(text, sizeof text, fmt, args...);
  return text;
}

}  // namespace

// A connection of the probe server: one line, compared with the greeting.
class FirewallCheck::ProbeConnection : public TcpConnection {
 public:
  explicit ProbeConnection(std::atomic<int>& state) : m_state(state) {}
  void handle() override {
    std::string line;
    readLine(socket(), line, 300, 10, std::chrono::steady_clock::now() + std::chrono::seconds(10));
    trimLineEnd(line);
    const std::string_view greeting = firewall::kGreeting;
    const bool ok = line.size() == greeting.size() && ::strncasecmp(line.data(), greeting.data(), line.size()) == 0;
    m_state = ok ? firewall::kGreeted : firewall::kWrongGreeting;
  }

 private:
  std::atomic<int>& m_state;
};

class FirewallCheck::ProbeServer : public TcpServer {
 public:
  explicit ProbeServer(std::atomic<int>& state) : m_state(state) {}
  ~ProbeServer() override { stopAndJoin(); }

 protected:
  std::unique_ptr<TcpConnection> createConnection() override { return std::make_unique<ProbeConnection>(m_state); }

 private:
  std::atomic<int>& m_state;
};

void FirewallCheck::setPorts(uint16_t tcp, uint16_t udp) {
  m_tcpPort = tcp;
  m_udpPort = udp;
}

void FirewallCheck::setTiming(std::chrono::milliseconds step, std::chrono::milliseconds settle,
                              std::chrono::milliseconds poll) {
  m_step = step;
  m_settle = settle;
  m_poll = poll;
}

void FirewallCheck::setPortMapping(const PortMappingStatus& mapping) {
  m_mapping = mapping;
  if (mapping.tcpExternal != 0) m_announcedTcpPort = mapping.tcpExternal;
  if (mapping.udpExternal != 0) m_announcedUdpPort = mapping.udpExternal;
}

int FirewallCheck::run() {
  using namespace firewall;
  m_tcpState = kNotStarted;
  m_udpState = kNotStarted;
  m_pingResult = kNotStarted;
  m_initKind = 0;

  m_ownAddress = m_ctx.state.LocalAddress();
  if (m_ownAddress.empty()) m_ownAddress = localAddressFor("");
  if (m_ownAddress.empty() || m_ownAddress.size() > 30) {
    m_initKind = kNoLocalAddress;
    return m_initKind;
  }
  auto probe = std::make_unique<ProbeServer>(m_tcpState);
  if (probe->listen(m_tcpPort) != kListenOk || probe->start() != 0) {
    m_initKind = kNoLocalPort;
    return m_initKind;
  }
  const std::string serverName = m_ctx.settings.GetSettingText("serveraddress");
  if (serverName.empty()) {
    m_initKind = kNoServerAddress;
    return m_initKind;
  }
  m_serverAddress = ServerTarget::resolve(serverName);
  if (m_serverAddress.empty()) m_serverAddress = serverName;  // the request will say it cannot connect

  UniqueFd udp(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_addr.s_addr = htonl(INADDR_ANY);
  at.sin_port = htons(m_udpPort);
  socklen_t length = sizeof at;
  if (!udp || ::bind(udp.get(), reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 ||
      ::getsockname(udp.get(), reinterpret_cast<sockaddr*>(&at), &length) != 0) {
    m_initKind = kNoUdpSocket;
    return m_initKind;
  }
  const uint16_t udpPort = ntohs(at.sin_port);

  std::jthread receiver([this, fd = udp.get()](std::stop_token st) {
    while (!st.stop_requested()) {
      if (m_udpState == kUdpGiveUp) {
        m_udpStamp = nowMs();
        m_udpState = kUdpTimeout;
        return;
      }
      if (waitReadable(fd, m_poll)) break;
    }
    if (st.stop_requested()) return;
    char datagram[255];
    const ssize_t n = ::recv(fd, datagram, sizeof datagram, MSG_DONTWAIT);
    m_udpResult = static_cast<int>(n);
    m_udpStamp = nowMs();
    m_udpState = n >= 0 ? kUdpReceived : kUdpError;
  });

  // The test request goes to the central server's own port.
  const std::string url = "http:\\\\" + m_serverAddress + ":" + std::to_string(m_ctx.target.port()) +
                          "\\clientrequest?action=test&ip=" + m_ownAddress + "&udpport=" +
                          std::to_string(m_announcedUdpPort != 0 ? m_announcedUdpPort : udpPort) +
                          "&port=" + std::to_string(m_announcedTcpPort != 0 ? m_announcedTcpPort : probe->port());
  m_beforeRequest = nowMs();
  ClientRequest request(nullptr, ClientState::kOwnClientVersion);
  const int code = request.GetText(url);
  m_afterRequest = nowMs();

  if (code != get::kOk) {
    m_tcpResult = code;
    m_tcpState = code == kCannotConnect ? kCannotConnect : code == kRejected ? kRejected : kRequestError;
    int expected = kNotStarted;
    m_udpState.compare_exchange_strong(expected, kUdpGiveUp);
    std::this_thread::sleep_for(m_settle);
    receiver.request_stop();
    receiver.join();
    m_udpState = kNotStarted;
    return m_tcpState;
  }

  for (int i = 0; i < 20; ++i) {
    if (m_udpState == kUdpReceived) {
      if (m_tcpState == kGreeted) return kBothReached;
      break;
    }
    if (m_udpState != kNotStarted) break;
    std::this_thread::sleep_for(m_step);
  }
  if (m_udpState == kNotStarted) {
    std::string reply = "You may fire when ready";
    const int ping = PingRequest(m_ctx, reply);
    if (ping != 0) {
      m_pingResult = 3;
      m_pingCode = ping;
    } else if (::strncasecmp(reply.c_str(), "The force is strong in this one", 31) != 0) {
      m_pingResult = 0;
      m_ctx.settings.SetSettingNumber("tcppings", 1);
      if (m_tcpState == kGreeted) {
        m_udpState = kUdpGiveUp;
        std::this_thread::sleep_for(m_settle);
        return kBothReached;
      }
    }
    int expected = kNotStarted;
    m_udpState.compare_exchange_strong(expected, kUdpGiveUp);
  }
  std::this_thread::sleep_for(m_settle);
  // Nothing came to the port although the server took the request: the report
  // says so rather than calling the TCP test "not started".
  int none = kNotStarted;
  m_tcpState.compare_exchange_strong(none, kNoProbe);
  return kProbeMissing;
}

std::string FirewallCheck::operatingSystemText() {
  utsname u{};
  if (::uname(&u) != 0) return {};
  return std::string(u.sysname) + " " + u.release + " (" + u.machine + ")";
}

std::string FirewallCheck::reportText(int templateVersion) const {
  using namespace firewall;
  std::string r = "Vantrel Firewall Check\r\n\r\n";
  r += format("Client Version: %d\r\nTemplate Version %d\r\n", ClientState::kOwnClientVersion, templateVersion);
  r += "Username: " + m_ctx.state.UserName() + "\r\n";
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  char when[64];
  std::strftime(when, sizeof when, "%d %b %Y %H:%M", &local);
  r += std::string("System Time: ") + when + "\r\n";
  r += "Client IP: " + m_ownAddress + "\r\nServer Address: " + m_ctx.settings.GetSettingText("serveraddress") +
       "\r\nServer IP: " + m_serverAddress + "\r\n";
  r += format("Client UDP Port: %d\r\nClient TCP Port: %d\r\n", m_ctx.settings.GetSettingNumber("udpport"),
              m_ctx.settings.GetSettingNumber("port"));
  const int type = m_ctx.settings.GetSettingNumber("contype");
  const auto& names = SettingsStore::ConnectionTypeNames();
  const std::string label =
      type >= 0 && type < static_cast<int>(names.size()) ? std::string(names[static_cast<std::size_t>(type)]) : "Could not retrieve";
  r += "Chosen Internet Connection: " + label + " (" + std::to_string(type) + ")\r\n";
  if (const std::string os = operatingSystemText(); !os.empty()) r += "OS: " + os + "\r\n";
  r += "\r\nResults:\r\n\r\n";

  if (m_initKind == 0) {
    r += "Initialization: Successful!\r\n";
  } else {
    const char* text = m_initKind == kNoLocalPort      ? "Could not open client server port"
                       : m_initKind == kNoLocalAddress ? "Could not get local address"
                       : m_initKind == kNoUdpSocket    ? "Could not create client UDP server"
                       : m_initKind == kNoServerAddress ? "No Vantrel server address"
                                                        : "Undefined value";
    r += format("Initialization: Error %d: %s - Returned Error %d\r\n", m_initKind, text, m_initKind);
  }
  // What the router does decides what the server can reach: said before it.
  if (m_mapping) r += "\r\nRouter: " + describePortMapping(*m_mapping) + "\r\n";
  const int tcpTicks = static_cast<int>(m_afterRequest - m_beforeRequest);
  const int tcp = m_tcpState;
  if (tcp == kGreeted) {
    r += format("\r\nTCP: Success! Ticks %d\r\n", tcpTicks);
  } else if (tcp == kNotStarted) {
    r += "\r\nTCP: Not started, TCP firewall check aborted due to some other error\r\n";
  } else {
    const char* text = tcp == kCannotConnect   ? "Could not connect to server"
                       : tcp == kRejected      ? "Connection rejected"
                       : tcp == kRequestError  ? "Error"
                       : tcp == kWrongGreeting ? "Received wrong data from server"
                       : tcp == kNoProbe       ? "No connection from the server: the port is closed or blocked"
                                               : "Unrecognized";
    r += format("\r\nTCP Error %d: %s\r\nTCP Result %d\r\nTCP Ticks %d\r\n", tcp, text, m_tcpResult, tcpTicks);
  }
  const int udp = m_udpState;
  const int udpTicks = static_cast<int>(m_udpStamp - m_afterRequest);
  if (udp == kUdpReceived) {
    r += format("\r\nUDP: Success! Ticks %d\r\n", udpTicks);
  } else if (udp == kNotStarted) {
    r += "\r\nUDP: Not started, UDP firewall check aborted due to some other error\r\n";
  } else {
    const char* text = udp == kUdpTimeout ? "Timeout waiting for UDP packet from server"
                       : udp == kUdpError ? "Error receiving UDP data"
                                          : "Undefined value";
    r += format("\r\nUDP Error %d: %s\r\nUDP Result %d\r\nUDP Ticks %d\r\n", udp, text, m_udpResult.load(), udpTicks);
  }
  if (m_pingResult == 0) {
    r += "\r\nTCP Ping: Success! Ticks 0\r\n";
  } else if (m_pingResult == kNotStarted) {
    r += "\r\nTCP Ping: Not started, not needed\r\n";
  } else {
    r += format("\r\nTCP Ping Error %d\r\n", m_pingCode);
  }
  return r;
}

int FirewallCheck::showReport(FirewallReportUi& ui, int templateVersion) {
  const std::optional<std::string> report = reportToMail(ui, templateVersion);
  if (!report) return -1;
  MailSender mail;
  int rc = mail.connect(deployment::mailHost(), m_ownAddress);
  if (rc == mail::kOk) rc = mail.sendMail(deployment::supportAddress(), deployment::senderAddress(), "Firewall check", *report);
  mail.quit();
  return rc;
}

std::optional<std::string> FirewallCheck::reportToMail(FirewallReportUi& ui, int templateVersion) {
  std::string report = reportText(templateVersion);
  std::string email, comments;
  if (!ui.showFirewallReport(report, email, comments)) return std::nullopt;
  report += "\r\nE-mail: " + email + "\r\n";
  report += "\r\nComments:\r\n" + comments;
  return report;
}

std::string FirewallCheck::mailReport(const std::string& report) const {
  MailSender mail;
  const std::string host = deployment::mailHost();
  const int connected = mail.connect(host, m_ownAddress, m_mailPort);
  if (connected != mail::kOk) {
    mail.quit();
    return "The report could not be sent: the mail server " + host + " could not be reached (error " +
           std::to_string(connected) + ").";
  }
  const int sent = mail.sendMail(deployment::supportAddress(), deployment::senderAddress(), "Firewall check", report);
  mail.quit();
  if (sent != mail::kOk) {
    return "The report could not be sent: the mail server " + host + " did not take it (error " +
           std::to_string(sent) + ").";
  }
  return {};
}

}  // namespace vantrel
