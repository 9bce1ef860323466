// SPDX-License-Identifier: MIT
#include "server/clients/outbound.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "net/socket_io.h"
#include "platform/unique_fd.h"

namespace vantrel::server {
namespace {

using namespace std::chrono_literals;

// A loopback listener that records the first line of each connection.
class Listener {
 public:
  Listener() : m_fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(m_fd.get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    ::listen(m_fd.get(), 8);
    socklen_t len = sizeof sa;
    ::getsockname(m_fd.get(), reinterpret_cast<sockaddr*>(&sa), &len);
    port = ntohs(sa.sin_port);
  }
  std::string nextLine() {
    if (!waitReadable(m_fd.get(), 5000ms)) return "(nothing came)";
    UniqueFd c(::accept(m_fd.get(), nullptr, nullptr));
    std::string line;
    readLine(c.get(), line, 2000, 5);
    sendText(c.get(), "result=0");
    return std::string(withoutLineEnd(line));
  }
  int port = 0;

 private:
  UniqueFd m_fd;
};

TEST(OutboundTest, RemovalOrdersFitTheFileServersRequestLine) {
  Listener fileServer;
  RemovalNotifier notifier;
  std::vector<int64_t> ids;
  for (int64_t i = 0; i < 35; ++i) ids.push_back(2'000'000'000 + i);
  notifier.notify("127.0.0.1", fileServer.port, ids);
  const std::string first = fileServer.nextLine();
  const std::string second = fileServer.nextLine();
  EXPECT_EQ(first.rfind("GET /remove_file/?fileid=2000000000&fileid=2000000001&", 0), 0u) << first;
  EXPECT_LT(first.size() + 2, 700u);
  EXPECT_NE(first.find("&fileid=2000000029 HTTP/1.0"), std::string::npos);
  EXPECT_EQ(second, "GET /remove_file/?fileid=2000000030&fileid=2000000031&fileid=2000000032&fileid=2000000033"
                    "&fileid=2000000034 HTTP/1.0");
}

TEST(OutboundTest, FirewallProbesReachTheClientsPorts) {
  Listener fileServer;
  EXPECT_TRUE(probeTcp("127.0.0.1", fileServer.port));
  EXPECT_EQ(fileServer.nextLine(), "I am your FATHER!");
  EXPECT_FALSE(probeTcp("not an address", fileServer.port));
  EXPECT_FALSE(probeTcp("127.0.0.1", 0));
  EXPECT_FALSE(probeUdp("127.0.0.1", 70000));
}

}  // namespace
}  // namespace vantrel::server
