// SPDX-License-Identifier: MIT
#pragma once
// Fake home routers for the port mapper's tests, on loopback only: a NAT-PMP
// gateway on UDP port 5351 of an address of its own in 127.0.0.0/8 (the
// protocol fixes the port, so parallel tests differ by address), and a UPnP
// internet gateway on a TCP port the system picks, reached through its
// description URL. Each can behave well or badly. Every wait is bounded.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "net/scripted_http_server.h"
#include "platform/unique_fd.h"

namespace vantrel::testing {

// A loopback address other tests are unlikely to use at the same time.
inline std::string randomLoopbackAddress() {
  std::random_device seed;
  std::mt19937 pick(seed());
  std::uniform_int_distribution<int> octet(1, 254);
  return "127." + std::to_string(octet(pick)) + "." + std::to_string(octet(pick)) + "." + std::to_string(octet(pick));
}

class FakeNatPmp {
 public:
  enum class Mode {
    kGrants,          // maps, public port = private port + offset
    kGarbage,         // answers every request with bytes that are no NAT-PMP
    kSilent,          // never answers
    kRefusesMapping,  // tells its public address, refuses mappings (not authorized)
    kStrayFirst,      // sends a stray answer for another port before each real one
  };
  struct Request {
    int opcode;
    uint16_t privatePort;
    uint16_t publicPort;
    uint32_t lifetime;
  };

  explicit FakeNatPmp(Mode mode, uint16_t offset = 0) : m_mode(mode), m_offset(offset) {
    for (int attempt = 0; attempt < 20 && !m_socket; ++attempt) {
      UniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
      const std::string address = randomLoopbackAddress();
      sockaddr_in at{};
      at.sin_family = AF_INET;
      at.sin_port = htons(5351);
      ::inet_pton(AF_INET, address.c_str(), &at.sin_addr);
      if (fd && ::bind(fd.get(), reinterpret_cast<sockaddr*>(&at), sizeof at) == 0) {
        m_socket = std::move(fd);
        m_address = address;
      }
    }
    m_thread = std::jthread([this](std::stop_token st) { serve(st); });
  }

  const std::string& address() const { return m_address; }
  std::vector<Request> requests() const {
    std::scoped_lock lock(m_mutex);
    return m_requests;
  }

 private:
  static void put16(std::string& out, uint16_t v) {
    out.push_back(static_cast<char>(v >> 8));
    out.push_back(static_cast<char>(v & 0xFF));
  }
  static void put32(std::string& out, uint32_t v) {
    put16(out, static_cast<uint16_t>(v >> 16));
    put16(out, static_cast<uint16_t>(v & 0xFFFF));
  }
  static uint16_t get16(const unsigned char* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }

  void serve(std::stop_token st) {
    if (!m_socket) return;
    while (!st.stop_requested()) {
      pollfd p{m_socket.get(), POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      unsigned char in[64];
      sockaddr_in from{};
      socklen_t length = sizeof from;
      const ssize_t n =
          ::recvfrom(m_socket.get(), in, sizeof in, 0, reinterpret_cast<sockaddr*>(&from), &length);
      if (n < 2) continue;
      Request r{in[1], 0, 0, 0};
      if (n >= 12) r = Request{in[1], get16(in + 4), get16(in + 6), static_cast<uint32_t>(get16(in + 8)) << 16 | get16(in + 10)};
      {
        std::scoped_lock lock(m_mutex);
        m_requests.push_back(r);
      }
      auto send = [&](const std::string& out) {
        ::sendto(m_socket.get(), out.data(), out.size(), 0, reinterpret_cast<sockaddr*>(&from), length);
      };
      switch (m_mode) {
        case Mode::kSilent:
          continue;
        case Mode::kGarbage:
          send("HTTP/1.1 200 OK\r\n\r\n");
          continue;
        case Mode::kGrants:
        case Mode::kRefusesMapping:
        case Mode::kStrayFirst:
          break;
      }
      std::string out;
      out.push_back(0);
      out.push_back(static_cast<char>(128 + r.opcode));
      const bool refuse = m_mode == Mode::kRefusesMapping && r.opcode != 0;
      put16(out, refuse ? 2 : 0);
      put32(out, 1000);
      if (r.opcode == 0) {
        out += std::string("\xC6\x33\x64\x07", 4);  // 198.51.100.7
      } else {
        if (m_mode == Mode::kStrayFirst) {
          std::string stray = out;
          put16(stray, static_cast<uint16_t>(r.privatePort + 1));
          put16(stray, 9);
          put32(stray, 60);
          send(stray);
        }
        put16(out, r.privatePort);
        put16(out, r.lifetime == 0 ? 0 : static_cast<uint16_t>(r.privatePort + m_offset));
        put32(out, r.lifetime);
      }
      send(out);
    }
  }

  Mode m_mode;
  uint16_t m_offset;
  UniqueFd m_socket;
  std::string m_address;
  mutable std::mutex m_mutex;
  std::vector<Request> m_requests;  // guarded by m_mutex
  std::jthread m_thread;
};

class FakeUpnp {
 public:
  enum class Mode {
    kWorks,               // a proper gateway with a table of mappings
    kGarbageDescription,  // its description is no XML at all
    kGarbageAnswers,      // every SOAP answer is garbage
    kRefuses,             // AddPortMapping: 606 Action not authorized
    kLate,                // takes connections and never answers
  };
  struct Entry {
    std::string client;
    uint16_t internalPort;
    std::string description;
  };

  explicit FakeUpnp(Mode mode) : m_mode(mode) {}
  ~FakeUpnp() { m_closing = true; }

  std::string descriptionUrl() const { return "http://127.0.0.1:" + std::to_string(m_server.port()) + "/rootDesc.xml"; }
  // Mappings that someone else made before us.
  void hold(const std::string& protocol, uint16_t external, Entry entry) {
    std::scoped_lock lock(m_mutex);
    m_table[{protocol, external}] = std::move(entry);
  }
  bool has(const std::string& protocol, uint16_t external) const {
    std::scoped_lock lock(m_mutex);
    return m_table.count({protocol, external}) != 0;
  }
  // "AddPortMapping TCP 8323", one per SOAP request, in order.
  std::vector<std::string> actions() const {
    std::scoped_lock lock(m_mutex);
    return m_actions;
  }

 private:
  static std::string tag(const std::string& text, const std::string& name) {
    const std::size_t at = text.find("<" + name + ">");
    if (at == std::string::npos) return {};
    const std::size_t start = at + name.size() + 2;
    return text.substr(start, text.find('<', start) - start);
  }
  static std::string http(const std::string& status, const std::string& body) {
    return "HTTP/1.1 " + status + "\r\nContent-Type: text/xml; charset=\"utf-8\"\r\nConnection: close\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\n\r\n" + body;
  }
  static std::string envelope(const std::string& inner) {
    return "<?xml version=\"1.0\"?>\r\n<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" "
           "s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\"><s:Body>" +
           inner + "</s:Body></s:Envelope>\r\n";
  }
  static std::string answer(const std::string& action, const std::string& fields) {
    return http("200 OK", envelope("<u:" + action + "Response xmlns:u=\"urn:schemas-upnp-org:service:WANIPConnection:1\">" +
                                   fields + "</u:" + action + "Response>"));
  }
  static std::string fault(int code, const std::string& text) {
    return http("500 Internal Server Error",
                envelope("<s:Fault><faultcode>s:Client</faultcode><faultstring>UPnPError</faultstring><detail><UPnPError "
                         "xmlns=\"urn:schemas-upnp-org:control-1-0\"><errorCode>" +
                         std::to_string(code) + "</errorCode><errorDescription>" + text +
                         "</errorDescription></UPnPError></detail></s:Fault>"));
  }
  static std::string description() {
    return "<?xml version=\"1.0\"?>\r\n<root xmlns=\"urn:schemas-upnp-org:device-1-0\"><specVersion><major>1</major>"
           "<minor>0</minor></specVersion><device><deviceType>urn:schemas-upnp-org:device:InternetGatewayDevice:1"
           "</deviceType><friendlyName>Fake router</friendlyName><deviceList><device><deviceType>"
           "urn:schemas-upnp-org:device:WANDevice:1</deviceType><serviceList><service><serviceType>"
           "urn:schemas-upnp-org:service:WANCommonInterfaceConfig:1</serviceType><serviceId>"
           "urn:upnp-org:serviceId:WANCommonIFC1</serviceId><controlURL>/ctl/CmnIfCfg</controlURL><eventSubURL>"
           "/evt/CmnIfCfg</eventSubURL><SCPDURL>/WANCfg.xml</SCPDURL></service></serviceList><deviceList><device>"
           "<deviceType>urn:schemas-upnp-org:device:WANConnectionDevice:1</deviceType><serviceList><service>"
           "<serviceType>urn:schemas-upnp-org:service:WANIPConnection:1</serviceType><serviceId>"
           "urn:upnp-org:serviceId:WANIPConn1</serviceId><controlURL>/ctl/IPConn</controlURL><eventSubURL>"
           "/evt/IPConn</eventSubURL><SCPDURL>/WANIPCn.xml</SCPDURL></service></serviceList></device></deviceList>"
           "</device></deviceList></device></root>\r\n";
  }

  void handle(int fd, const std::string& request) {
    if (m_mode == Mode::kLate) {
      // Holds the connection without a word until the test ends (or 20 s).
      for (int i = 0; i < 400 && !m_closing; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
      return;
    }
    if (request.rfind("GET ", 0) == 0) {
      sendText(fd, http("200 OK", m_mode == Mode::kGarbageDescription ? "\x01\x02 no xml at all <<<" : description()));
      return;
    }
    const std::size_t hash = request.find('#');
    const std::string action = hash == std::string::npos ? "" : request.substr(hash + 1, request.find('"', hash) - hash - 1);
    const std::string protocol = tag(request, "NewProtocol");
    const auto external = static_cast<uint16_t>(std::atoi(tag(request, "NewExternalPort").c_str()));
    {
      std::scoped_lock lock(m_mutex);
      m_actions.push_back(action + (protocol.empty() ? "" : " " + protocol + " " + std::to_string(external)));
    }
    if (m_mode == Mode::kGarbageAnswers) {
      sendText(fd, http("200 OK", "\x01\x02 no xml at all <<<"));
      return;
    }
    std::scoped_lock lock(m_mutex);
    const auto key = std::make_pair(protocol, external);
    const auto found = m_table.find(key);
    if (action == "GetExternalIPAddress") {
      sendText(fd, answer(action, "<NewExternalIPAddress>198.51.100.7</NewExternalIPAddress>"));
    } else if (action == "GetSpecificPortMappingEntry") {
      if (found == m_table.end()) {
        sendText(fd, fault(714, "NoSuchEntryInArray"));
      } else {
        sendText(fd, answer(action, "<NewInternalPort>" + std::to_string(found->second.internalPort) +
                                        "</NewInternalPort><NewInternalClient>" + found->second.client +
                                        "</NewInternalClient><NewEnabled>1</NewEnabled><NewPortMappingDescription>" +
                                        found->second.description +
                                        "</NewPortMappingDescription><NewLeaseDuration>3600</NewLeaseDuration>"));
      }
    } else if (action == "AddPortMapping") {
      const std::string client = tag(request, "NewInternalClient");
      if (m_mode == Mode::kRefuses) {
        sendText(fd, fault(606, "Action not authorized"));
      } else if (found != m_table.end() && found->second.client != client) {
        sendText(fd, fault(718, "ConflictInMappingEntry"));
      } else {
        m_table[key] = Entry{client, static_cast<uint16_t>(std::atoi(tag(request, "NewInternalPort").c_str())),
                             tag(request, "NewPortMappingDescription")};
        sendText(fd, answer(action, ""));
      }
    } else if (action == "DeletePortMapping") {
      if (found == m_table.end()) {
        sendText(fd, fault(714, "NoSuchEntryInArray"));
      } else {
        m_table.erase(found);
        sendText(fd, answer(action, ""));
      }
    } else {
      sendText(fd, fault(401, "Invalid Action"));
    }
  }

  Mode m_mode;
  std::atomic<bool> m_closing{false};
  mutable std::mutex m_mutex;
  std::map<std::pair<std::string, uint16_t>, Entry> m_table;  // guarded by m_mutex
  std::vector<std::string> m_actions;                         // guarded by m_mutex
  ScriptedHttpServer m_server{[this](int fd, const std::string& request) { handle(fd, request); }};  // last
};

}  // namespace vantrel::testing
