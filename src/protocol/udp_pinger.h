// SPDX-License-Identifier: MIT
#pragma once
// UdpPinger: pings the central server by UDP every interval and hands every
// datagram that comes back to the PingHandler. The datagram is one length byte
// (cipher length mod 256), the cipher text of "secid=...&load=..." (plus
// "&pt=" in a contest and "&chkmsg=1" on the first and every fourth ping), the
// local UDP port and the client ID, each 4 bytes little-endian.
// Two threads, a sender and a receiver; start and stop from the owner's thread.

#include <cstdint>
#include <string>
#include <thread>

#include "platform/unique_fd.h"
#include "protocol/pinger.h"

namespace vantrel {

class UdpPinger : public Pinger {
 public:
  static constexpr uint16_t kServerUdpPort = 7110;
  static constexpr std::size_t kMaxDatagram = 255;

  using Pinger::Pinger;
  ~UdpPinger() override { stop(); }

  bool start() override;
  void stop() override;
  // Lets the UDP port go (another listener of this process needs it for a
  // while) and takes the same port again; resume is false when it cannot.
  void pause();
  bool resume();

  // The server's UDP port (the session passes the deployment value). Before start.
  void setServerUdpPort(uint16_t port) { m_serverPort = port; }
  // The local UDP port the pinger is bound to (0 before start).
  uint16_t localPort() const { return m_localPort; }

  // The ping text of the next ping; advances the message-check counter.
  std::string nextPingText();
  // The datagram around a cipher text.
  static std::string datagram(std::string_view cipher, uint32_t udpPort, int32_t clientId);

 private:
  void sendLoop(std::stop_token st);
  void receiveLoop(std::stop_token st);

  uint16_t m_serverPort = kServerUdpPort;
  uint16_t m_localPort = 0;
  uint16_t m_resumePort = 0;  // the port resume binds again
  std::string m_serverAddress;
  int m_counter = 4;  // sender thread only: starts at 4 so the first ping checks messages
  UniqueFd m_socket;
  std::jthread m_receiver;
  std::jthread m_sender;
};

}  // namespace vantrel
