// SPDX-License-Identifier: MIT
#include "protocol/udp_pinger.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>

#include "net/socket_io.h"
#include "protocol/server_login.h"

namespace vantrel {

std::string UdpPinger::nextPingText() {
  std::string text = "secid=" + m_ctx.state.SessionIdText() + "&load=" + std::to_string(m_ctx.state.LoadClass());
  const bool contest = m_ctx.state.Contest();
  if (contest) text += "&pt=" + std::to_string(m_ctx.contest.ContestTotal());
  if (++m_counter > 3) {
    if (contest && m_ctx.saveContest) m_ctx.saveContest();
    text += "&chkmsg=1";
    m_counter = 0;
  }
  return text;
}

std::string UdpPinger::datagram(std::string_view cipher, uint32_t udpPort, int32_t clientId) {
  std::string out;
  out.reserve(cipher.size() + 9);
  out += static_cast<char>(cipher.size() % 256);
  out += cipher;
  const auto id = static_cast<uint32_t>(clientId);
  for (uint32_t v : {udpPort, id}) {
    for (int i = 0; i < 4; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
  }
  return out;
}

bool UdpPinger::start() {
  stop();
  m_ctx.contest.setLocalAddress(localAddressFor(m_ctx.state.LocalAddress()));
  m_serverAddress = ServerTarget::resolve(m_ctx.settings.GetSettingText("serveraddress"));
  // Resuming after a pause binds the port it had, whatever the setting says now.
  const int32_t port = m_resumePort != 0 ? m_resumePort : m_ctx.settings.GetSettingNumber("udpport");
  const int wanted = port > 0 && port <= 65535 ? port : 0;
  // Another client on this computer may hold the configured port: the next
  // free one up will do, since every ping tells the server where we are.
  UniqueFd fd;
  sockaddr_in at{};
  socklen_t length = sizeof at;
  // Pings leave from the address the client's requests leave from: the server
  // knows the session by it.
  in_addr source{htonl(INADDR_ANY)};
  if (const std::string from = m_ctx.settings.GetSettingText(kSourceAddressSetting); !from.empty()) {
    ::inet_pton(AF_INET, from.c_str(), &source);
  }
  for (int candidate = wanted; !fd && candidate <= std::min(65535, wanted + kPortSearchSpan - 1); ++candidate) {
    UniqueFd attempt(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    at = sockaddr_in{};
    at.sin_family = AF_INET;
    at.sin_addr = source;
    at.sin_port = htons(static_cast<uint16_t>(candidate));
    length = sizeof at;
    if (attempt && ::bind(attempt.get(), reinterpret_cast<sockaddr*>(&at), sizeof at) == 0 &&
        ::getsockname(attempt.get(), reinterpret_cast<sockaddr*>(&at), &length) == 0) {
      fd = std::move(attempt);
    }
    if (wanted == 0) break;
  }
  if (!fd) {
    m_ctx.logText("Error creating the UDP ping socket on port " + std::to_string(port) + " or the " +
                      std::to_string(kPortSearchSpan - 1) + " ports after it",
                  1);
    return false;
  }
  if (wanted != 0 && ntohs(at.sin_port) != wanted) {
    m_ctx.logText("UDP port " + std::to_string(wanted) + " is in use (another client on this computer?): pinging from "
                      "port " + std::to_string(ntohs(at.sin_port)) + " instead",
                  1);
  }
  m_ctx.udpPort = ntohs(at.sin_port);
  m_localPort = ntohs(at.sin_port);
  m_socket = std::move(fd);
  m_receiver = std::jthread([this](std::stop_token st) { receiveLoop(st); });
  m_sender = std::jthread([this](std::stop_token st) { sendLoop(st); });
  return true;
}

void UdpPinger::pause() {
  stop();
}

bool UdpPinger::resume() {
  if (m_socket) return true;
  m_resumePort = m_localPort;
  const bool started = start();
  m_resumePort = 0;
  return started;
}

void UdpPinger::stop() {
  for (std::jthread* t : {&m_sender, &m_receiver}) {
    if (t->joinable()) {
      t->request_stop();
      t->join();
    }
  }
  m_socket.reset();
}

void UdpPinger::sendLoop(std::stop_token st) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(m_serverPort);
  const bool haveAddress = ::inet_pton(AF_INET, m_serverAddress.c_str(), &to.sin_addr) == 1;
  while (!st.stop_requested()) {
    const std::string cipher = m_ctx.key.EncryptText(nextPingText());
    const std::string packet = datagram(cipher, m_localPort, m_ctx.state.ClientId());
    const bool sent = haveAddress && !cipher.empty() &&
                      ::sendto(m_socket.get(), packet.data(), packet.size(), 0, reinterpret_cast<sockaddr*>(&to),
                               sizeof to) == static_cast<ssize_t>(packet.size());
    m_ctx.logText(sent ? "Sent server ping" : "Error sending server ping", sent ? 2 : 1);
    markSend();
    if (!sleepUnits(m_interval, st)) return;
  }
}

void UdpPinger::receiveLoop(std::stop_token st) {
  char buffer[kMaxDatagram];
  while (!st.stop_requested()) {
    // Short waits keep stop prompt; the unit paces the loop as "one second".
    if (!waitReadable(m_socket.get(), std::min(m_unit, std::chrono::milliseconds(100)))) continue;
    const ssize_t n = ::recv(m_socket.get(), buffer, sizeof buffer, MSG_DONTWAIT);
    if (n <= 0) continue;
    if (m_handler.HandlePingReply(std::string_view(buffer, static_cast<std::size_t>(n))) == 1) markReply();
  }
}

}  // namespace vantrel
