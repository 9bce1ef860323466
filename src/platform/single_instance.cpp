// SPDX-License-Identifier: MIT
#include "platform/single_instance.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace vantrel {
namespace {

bool fillAddress(const std::string& path, sockaddr_un& addr) {
  std::memset(&addr, 0, sizeof addr);
  addr.sun_family = AF_UNIX;
  if (path.size() >= sizeof addr.sun_path) return false;
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  return true;
}

// FNV-1a: stable across processes and builds, unlike std::hash.
uint64_t fnv1a(const std::string& text) {
  uint64_t h = 1469598103934665603ULL;
  for (unsigned char c : text) h = (h ^ c) * 1099511628211ULL;
  return h;
}

bool waitFd(int fd, short events, int ms) {
  pollfd p{fd, events, 0};
  return ::poll(&p, 1, ms) == 1;
}

}  // namespace

std::string SingleInstance::socketPath(const std::string& rootName, const std::string& settingsFile) {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  std::string dir;
  if (runtime != nullptr && *runtime != '\0') {
    dir = runtime;
  } else {
    dir = "/tmp/vantrel-" + std::to_string(::getuid());
    ::mkdir(dir.c_str(), 0700);
  }
  if (dir.back() != '/') dir += '/';
  std::string name;
  for (char c : rootName) name += c == '/' ? '_' : c;
  // Two settings files are two clients, even under the same root name; one
  // file named two ways (relative, through a link) is one.
  std::error_code ec;
  const std::filesystem::path canonical = std::filesystem::weakly_canonical(settingsFile, ec);
  char file[24];
  std::snprintf(file, sizeof file, "-%016llx",
                static_cast<unsigned long long>(fnv1a(ec ? settingsFile : canonical.string())));
  name += file;
  std::string path = dir + "vantrel-client-" + name + ".sock";
  if (path.size() < sizeof(sockaddr_un::sun_path)) return path;
  // Too long for a socket address: a short name in a folder of our own, the
  // same for every process that asks about this root in this runtime folder.
  char digest[32];
  std::snprintf(digest, sizeof digest, "%016llx", static_cast<unsigned long long>(fnv1a(path)));
  const std::string shortDir = "/tmp/vantrel-" + std::to_string(::getuid());
  ::mkdir(shortDir.c_str(), 0700);
  return shortDir + "/client-" + digest + ".sock";
}

bool SingleInstance::probe(const std::string& rootName, const std::string& settingsFile) {
  sockaddr_un addr{};
  if (!fillAddress(socketPath(rootName, settingsFile), addr)) return false;
  UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd.valid()) return false;
  if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return false;
  const uint32_t message = kProbeMessage;
  if (::send(fd.get(), &message, sizeof message, MSG_NOSIGNAL) != sizeof message) return false;
  if (!waitFd(fd.get(), POLLIN, 2000)) return false;
  uint32_t answer = 0;
  return ::recv(fd.get(), &answer, sizeof answer, MSG_WAITALL) == sizeof answer && answer == kProbeAnswer;
}

bool SingleInstance::claim(const std::string& rootName, const std::string& settingsFile,
                           std::chrono::milliseconds wait) {
  const std::string lockPath = socketPath(rootName, settingsFile) + ".lock";
  UniqueFd fd(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
  if (!fd.valid()) {
    // No lock to be had (a runtime folder we may not write): the probe alone decides.
    return !probe(rootName, settingsFile);
  }
  if (::flock(fd.get(), LOCK_EX | LOCK_NB) == 0) {
    m_lock = std::move(fd);
    return true;
  }
  // Another instance holds the lock; it may not be listening yet.
  const auto until = std::chrono::steady_clock::now() + wait;
  while (!probe(rootName, settingsFile) && std::chrono::steady_clock::now() < until) {
    ::usleep(100 * 1000);
  }
  return false;
}

bool SingleInstance::listen(const std::string& rootName, const std::string& settingsFile,
                            std::function<void()> onShow) {
  m_path = socketPath(rootName, settingsFile);
  sockaddr_un addr{};
  if (!fillAddress(m_path, addr)) return false;
  UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!fd.valid()) return false;
  // We hold the lock (or there is none to be had and the probe found nobody),
  // so a socket file left there belongs to a client that died without
  // removing it.
  ::unlink(m_path.c_str());
  if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd.get(), 4) != 0) {
    return false;
  }
  m_socket = std::move(fd);
  m_onShow = std::move(onShow);
  m_thread = std::jthread([this](std::stop_token st) { serve(st); });
  return true;
}

void SingleInstance::serve(std::stop_token st) {
  while (!st.stop_requested()) {
    if (!waitFd(m_socket.get(), POLLIN, 200)) continue;
    UniqueFd peer(::accept4(m_socket.get(), nullptr, nullptr, SOCK_CLOEXEC));
    if (!peer.valid()) continue;
    uint32_t message = 0;
    if (!waitFd(peer.get(), POLLIN, 1000)) continue;
    if (::recv(peer.get(), &message, sizeof message, MSG_WAITALL) != sizeof message || message != kProbeMessage) {
      continue;
    }
    const uint32_t answer = kProbeAnswer;
    ::send(peer.get(), &answer, sizeof answer, MSG_NOSIGNAL);
    if (m_onShow) m_onShow();
  }
}

SingleInstance::~SingleInstance() {
  if (m_thread.joinable()) {
    m_thread.request_stop();
    m_thread.join();
    ::unlink(m_path.c_str());
  }
}

}  // namespace vantrel
