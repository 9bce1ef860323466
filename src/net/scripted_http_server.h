// SPDX-License-Identifier: MIT
#pragma once
// ScriptedHttpServer: a loopback HTTP server for tests and benchmarks of the
// client side. It listens on 127.0.0.1 at a port the system picks, reads each
// request whole (headers, the Content-length body and the line ends a POST sends
// after it), records the exact bytes and lets a handler write the reply. Runs on
// its own thread; every wait is bounded, so a test that fails never hangs.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "net/socket_io.h"
#include "platform/unique_fd.h"

namespace vantrel::testing {

class ScriptedHttpServer {
 public:
  // Writes the reply for one request to the connection; the server closes it after.
  using Handler = std::function<void(int fd, const std::string& request)>;

  explicit ScriptedHttpServer(Handler handler) : m_handler(std::move(handler)) {
    m_listener = UniqueFd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof at;
    const int one = 1;
    ::setsockopt(m_listener.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (::bind(m_listener.get(), reinterpret_cast<sockaddr*>(&at), sizeof at) == 0 &&
        ::listen(m_listener.get(), 16) == 0 &&
        ::getsockname(m_listener.get(), reinterpret_cast<sockaddr*>(&at), &length) == 0) {
      m_port = ntohs(at.sin_port);
    }
    m_thread = std::jthread([this](std::stop_token st) { serve(st); });
  }

  // A handler that sends a fixed reply text after a minimal header block.
  static Handler reply(std::string body, std::string headers = "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n") {
    return [body = std::move(body), headers = std::move(headers)](int fd, const std::string&) {
      sendText(fd, headers + body);
    };
  }

  uint16_t port() const { return m_port; }

  std::vector<std::string> requests() const {
    std::scoped_lock lock(m_mutex);
    return m_requests;
  }
  std::size_t requestCount() const {
    std::scoped_lock lock(m_mutex);
    return m_requests.size();
  }
  std::string lastRequest() const {
    std::scoped_lock lock(m_mutex);
    return m_requests.empty() ? std::string() : m_requests.back();
  }

  void setHandler(Handler handler) {
    std::scoped_lock lock(m_mutex);
    m_handler = std::move(handler);
  }

 private:
  static std::string readRequest(int fd) {
    using namespace std::chrono;
    const auto until = steady_clock::now() + seconds(5);
    std::string all;
    char piece[4096];
    auto readSome = [&](milliseconds wait) {
      if (!waitReadable(fd, wait)) return false;
      const ssize_t n = ::recv(fd, piece, sizeof piece, 0);
      if (n <= 0) return false;
      all.append(piece, static_cast<std::size_t>(n));
      return true;
    };
    std::size_t headerEnd;
    while ((headerEnd = all.find("\r\n\r\n")) == std::string::npos) {
      if (steady_clock::now() >= until || !readSome(milliseconds(500))) return all;
    }
    std::size_t length = 0;
    for (std::size_t at = 0; at < headerEnd;) {
      const std::size_t end = all.find("\r\n", at);
      if (::strncasecmp(all.c_str() + at, "Content-length: ", 16) == 0) length = std::stoul(all.substr(at + 16, end - at - 16));
      at = end + 2;
    }
    std::size_t want = headerEnd + 4 + length;
    if (all.compare(0, 5, "POST ") == 0) want += 4;  // the line ends after the body
    while (all.size() < want && steady_clock::now() < until) {
      if (!readSome(milliseconds(300))) break;
    }
    return all;
  }

  void serve(std::stop_token st) {
    while (!st.stop_requested()) {
      pollfd p{m_listener.get(), POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      UniqueFd conn(::accept4(m_listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
      if (!conn) continue;
      const std::string request = readRequest(conn.get());
      Handler handler;
      {
        std::scoped_lock lock(m_mutex);
        m_requests.push_back(request);
        handler = m_handler;
      }
      if (handler) handler(conn.get(), request);
      ::shutdown(conn.get(), SHUT_WR);
      drain(conn.get());
    }
  }

  UniqueFd m_listener;
  uint16_t m_port = 0;
  mutable std::mutex m_mutex;
  std::vector<std::string> m_requests;  // guarded by m_mutex
  Handler m_handler;                    // guarded by m_mutex
  std::jthread m_thread;
};

}  // namespace vantrel::testing
