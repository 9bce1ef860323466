// SPDX-License-Identifier: MIT
#include "net/client_request.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <strings.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <memory>
#include <optional>

#include "core/base64.h"
#include "net/socket_io.h"

namespace vantrel {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using std::chrono::seconds;

constexpr std::size_t kMaxHost = 255;
constexpr std::size_t kMaxAddress = 31;
constexpr std::size_t kMaxTarget = 255;
constexpr std::size_t kInitialReply = 2000;
constexpr std::size_t kPostLine = 1000;
constexpr std::size_t kGetLine = 512;
constexpr std::size_t kMaxHeaderLines = 256;
// How long GetFile waits for each piece of a body.
constexpr milliseconds kPieceWait{10000};

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && ::strncasecmp(text.data(), prefix.data(), prefix.size()) == 0;
}

bool equalsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && ::strncasecmp(a.data(), b.data(), a.size()) == 0;
}

// The earlier of a one-step wait and the exchange's deadline.
SocketDeadline stepDeadline(Clock::time_point deadline, milliseconds step) {
  return std::min(deadline, Clock::now() + step);
}

// A downloaded file: "w+b" starts it afresh, "a+b" adds to its end. The
// descriptor is not opened for appending, since splice refuses such files; the
// end is found once instead, and only this download writes to the file.
UniqueFd openBodyFile(const std::string& path, bool append) {
  UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | (append ? 0 : O_TRUNC), 0666));
  if (fd && append && ::lseek(fd.get(), 0, SEEK_END) < 0) return {};
  return fd;
}

// How the copy of a reply body ended.
enum class BodyEnd { Complete, TimedOut, ReceiveFailed, WriteFailed, Stopped };

// Moves a reply body from the socket into a file until the peer closes, one
// piece per receive. The bytes go through a pipe with splice, so they never
// enter this process; where the kernel cannot splice (an old kernel, a file
// system without it) they go through one buffer, allocated once, in large
// receives and writes. A receive that finds nothing within the socket's
// receive time-out ends the copy as TimedOut.
class BodyCopier {
 public:
  // The most that one piece moves (a pipe that keeps its default size holds less).
  static constexpr std::size_t kPipePiece = 1 << 20;
  static constexpr std::size_t kBufferPiece = 256 * 1024;

  BodyCopier(int socket, int file) : m_socket(socket), m_file(file) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) return;
    m_pipeRead.reset(ends[0]);
    m_pipeWrite.reset(ends[1]);
    ::fcntl(m_pipeWrite.get(), F_SETPIPE_SZ, static_cast<int>(kPipePiece));
  }

  // Copies pieces, calling onPiece(bytes) once each is in the file; a false
  // answer stops the copy there.
  template <typename OnPiece>
  BodyEnd run(OnPiece&& onPiece) {
    for (;;) {
      std::size_t n = 0;
      if (const auto failure = next(n)) return *failure;
      if (n == 0) return BodyEnd::Complete;
      if (!onPiece(static_cast<long>(n))) return BodyEnd::Stopped;
    }
  }

 private:
  // Puts the next piece into the file and its size into n (0 at the end of the body).
  std::optional<BodyEnd> next(std::size_t& n) {
    if (m_pipeWrite) {
      const ssize_t got = retry([&] { return ::splice(m_socket, nullptr, m_pipeWrite.get(), nullptr, kPipePiece, SPLICE_F_MOVE); });
      if (got >= 0) {
        n = static_cast<std::size_t>(got);
        return pipeToFile(n) ? std::nullopt : std::optional(BodyEnd::WriteFailed);
      }
      // Only a socket that never spliced may refuse for good; it is read instead.
      if (m_spliced || (errno != EINVAL && errno != ENOSYS)) return receiveFailure();
      closePipe();
    }
    const ssize_t got = retry([&] { return ::recv(m_socket, buffer(), kBufferPiece, 0); });
    if (got < 0) return receiveFailure();
    n = static_cast<std::size_t>(got);
    return write(m_buffer.get(), n) ? std::nullopt : std::optional(BodyEnd::WriteFailed);
  }

  // Moves a piece that is in the pipe into the file.
  bool pipeToFile(std::size_t size) {
    m_spliced = true;
    while (size > 0) {
      const ssize_t n = retry([&] { return ::splice(m_pipeRead.get(), nullptr, m_file, nullptr, size, SPLICE_F_MOVE); });
      if (n > 0) {
        size -= static_cast<std::size_t>(n);
      } else if (n < 0 && errno == EINVAL) {
        break;  // the file system cannot take spliced pages
      } else {
        return false;
      }
    }
    if (size == 0) return true;
    // The rest of this piece, and every later one, goes through the buffer.
    while (size > 0) {
      const ssize_t n = retry([&] { return ::read(m_pipeRead.get(), buffer(), std::min(size, kBufferPiece)); });
      if (n <= 0 || !write(m_buffer.get(), static_cast<std::size_t>(n))) return false;
      size -= static_cast<std::size_t>(n);
    }
    closePipe();
    return true;
  }

  bool write(const char* data, std::size_t size) {
    while (size > 0) {
      const ssize_t n = retry([&] { return ::write(m_file, data, size); });
      if (n <= 0) return false;
      data += n;
      size -= static_cast<std::size_t>(n);
    }
    return true;
  }

  char* buffer() {
    if (!m_buffer) m_buffer = std::make_unique_for_overwrite<char[]>(kBufferPiece);
    return m_buffer.get();
  }

  void closePipe() {
    m_pipeRead.reset();
    m_pipeWrite.reset();
  }

  template <typename Call>
  static ssize_t retry(Call call) {
    ssize_t n;
    do {
      n = call();
    } while (n < 0 && errno == EINTR);
    return n;
  }

  static BodyEnd receiveFailure() {
    return errno == EAGAIN || errno == EWOULDBLOCK ? BodyEnd::TimedOut : BodyEnd::ReceiveFailed;
  }

  const int m_socket;
  const int m_file;
  UniqueFd m_pipeRead;
  UniqueFd m_pipeWrite;     // open while pieces go by splice
  bool m_spliced = false;   // a piece came by splice
  std::unique_ptr<char[]> m_buffer;
};

// The body part of a GET result: 0, or the code of what ended the copy.
int bodyResult(BodyEnd end, int timedOut) {
  switch (end) {
    case BodyEnd::Complete:
      return 0;
    case BodyEnd::TimedOut:
      return timedOut;
    case BodyEnd::ReceiveFailed:
      return get::kSendOrReceive;
    case BodyEnd::WriteFailed:
      return get::kWrongTypeOrWrite;
    case BodyEnd::Stopped:
      return get::kStopped;
  }
  return get::kSendOrReceive;
}

}  // namespace

ClientRequest::ClientRequest(std::atomic<int>* loginAbort, int clientVersion)
    : m_loginAbort(loginAbort), m_clientVersion(clientVersion) {}

int ClientRequest::SetHost(std::string_view host) {
  if (!m_address.empty() && host == m_host) return 0;
  if (host.size() > kMaxHost) return 1;
  // Nothing of a failed look-up is kept: a later call with the same host tries
  // again, and no connection goes to the previous host's address.
  m_host = std::string(host);
  m_address.clear();
  in_addr parsed{};
  if (::inet_pton(AF_INET, m_host.c_str(), &parsed) == 1) {
    if (m_host.size() > kMaxAddress) return 1;
    m_address = m_host;
    return 0;
  }
  const std::size_t at = m_host.rfind('@');
  const std::string name = at == std::string::npos ? m_host : m_host.substr(at + 1);
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (name.empty() || ::getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) return 2;
  std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> owner(found, &::freeaddrinfo);
  char text[INET_ADDRSTRLEN] = {};
  const auto* sin = reinterpret_cast<const sockaddr_in*>(found->ai_addr);
  if (::inet_ntop(AF_INET, &sin->sin_addr, text, sizeof text) == nullptr) return 1;
  if (std::string_view(text).size() > kMaxAddress) return 1;
  m_address = text;
  return 0;
}

int ClientRequest::ParseUrl(std::string_view url) {
  std::string u(url);
  std::replace(u.begin(), u.end(), '\\', '/');
  if (const std::size_t scheme = u.find("://"); scheme != std::string::npos) u.erase(0, scheme + 3);

  int flags = 0;
  const std::size_t hostEnd = std::min(u.find_first_of("/:?"), u.size());
  const std::string host = u.substr(0, std::min(hostEnd, kMaxHost));
  std::string rest = u.substr(hostEnd);
  if (host.empty()) flags |= kFlagNoHost;

  m_port = 80;
  if (!rest.empty() && rest.front() == ':') {
    const std::size_t portEnd = std::min(rest.find_first_of("/?", 1), rest.size());
    const std::string digits = rest.substr(1, std::min<std::size_t>(portEnd - 1, 5));
    const long port = std::strtol(digits.c_str(), nullptr, 10);
    m_port = port > 0 && port <= 65535 ? static_cast<uint16_t>(port) : 80;
    rest.erase(0, portEnd);
    if (!rest.empty() && rest.front() == '/') rest.erase(0, 1);
  }
  if (!host.empty() && SetHost(host) == 1) flags |= kFlagBadHost;
  m_target = rest.substr(0, std::min(rest.find('*'), kMaxTarget));
  return flags;
}

void ClientRequest::AddHeader(std::string_view text) {
  std::string line(text);
  if (line.size() < 2 || line.compare(line.size() - 2, 2, "\r\n") != 0) line += "\r\n";
  m_extraHeaders.push_back(std::move(line));
}

bool ClientRequest::abortRequested() {
  if (m_loginAbort == nullptr) return false;
  int expected = 1;
  return m_loginAbort->compare_exchange_strong(expected, 0);
}

std::string ClientRequest::PostForm(const Progress* callback, std::string_view url, std::string_view body,
                                    int& outCode) {
  return post(callback, url, body, outCode, nullptr);
}

std::string ClientRequest::PostEncrypted(const Progress* callback, std::string_view url, std::string_view body,
                                         int& outCode, const Cipher& cipher) {
  return post(callback, url, body, outCode, &cipher);
}

std::string ClientRequest::post(const Progress* callback, std::string_view url, std::string_view body,
                                int& outCode, const Cipher* cipher) {
  const bool encrypted = cipher != nullptr;
  const auto notify = [&](int code, long value) { return callback == nullptr || !*callback || (*callback)(code, value) != 0; };
  std::string reply;
  reply.reserve(kInitialReply);

  if (ParseUrl(url) != 0) {
    outCode = transport::kBadUrl;
    return reply;
  }
  notify(progress::kConnecting, 0);
  // The callback is asked again while a slow connection is being made, so a
  // caller that stops (a pinger at shutdown) is not held for the time-out.
  const auto keepConnecting = [&] { return notify(progress::kConnecting, 0); };
  if (!m_socket.connect(m_address, m_port, ClientSocket::kDefaultTimeout, keepConnecting)) {
    outCode = transport::kCannotConnect;
    return reply;
  }
  m_localAddress = m_socket.localAddress();
  notify(progress::kSending, 0);

  // The request goes out in one piece: the bytes are those of the separate lines,
  // without a small-packet delay between them.
  const std::string_view target =
      !m_target.empty() && m_target.front() == '/' ? std::string_view(m_target).substr(1) : m_target;
  std::string request = "POST /" + std::string(target) + " HTTP/1.0\r\n";
  request += "Connection: Keep-Alive\r\nHost: " + m_host + "\r\n";
  if (!encrypted) {
    request += "Content-type: application/x-www-form-urlencoded\r\nContent-length: " +
               std::to_string(body.size()) + "\r\n\r\n";
    request += body;
  } else if (body.empty()) {
    request += "Content-length: 0";
  } else {
    const std::string encoded = base64Encode((*cipher)(body));
    request += "Content-type: application/x-www-form-urlencoded\r\nContent-length: " +
               std::to_string(8 + encoded.size()) + "\r\n\r\ncrypted=" + encoded;
  }
  request += "\r\n\r\n";
  if (!sendInPieces(m_socket.fd(), request)) {
    m_socket.close();
    outCode = transport::kSendFailed;
    return reply;
  }

  const auto deadline = Clock::now() + kReplyDeadline;
  const int fd = m_socket.fd();
  // Wait for the first bytes of the reply.
  for (int i = 0; i < 10; ++i) {
    if (waitReadable(fd, seconds(1)) && (!encrypted || dataWaiting(fd))) break;
    if (abortRequested()) {
      outCode = transport::kAborted;
      return reply;
    }
  }

  // Headers: read and discard up to the empty line.
  bool endExchange = false;
  std::string line;
  for (;;) {
    const bool more = encrypted ? dataWaiting(fd) : waitReadable(fd, seconds(1));
    if (!more || Clock::now() >= deadline) break;
    if (!notify(progress::kReadingLine, 0)) {
      endExchange = true;
      break;
    }
    readLine(fd, line, kPostLine, 0, stepDeadline(deadline, seconds(1)));
    trimLineEnd(line);
    if (line.empty()) break;
    for (int i = 0; i < 5 && !waitReadable(fd, seconds(1)); ++i) {
      if (abortRequested()) {
        outCode = transport::kAborted;
        return reply;
      }
    }
  }

  // Body: read while bytes keep coming; the body ends when the server pauses.
  if (!endExchange) {
    waitReadable(fd, seconds(1));
    while (dataWaiting(fd) && Clock::now() < deadline) {
      const std::size_t room = kMaxReplyBytes - reply.size();
      if (room <= 1) break;
      readLine(fd, line, std::min(kPostLine, room), 3, deadline);
      if (line.empty()) break;
      reply += line;
      if (!notify(progress::kBodyPiece, static_cast<long>(reply.size()))) break;
      if (abortRequested()) {
        outCode = transport::kAbortedPartial;
        return reply;
      }
    }
  }
  notify(progress::kDone, static_cast<long>(reply.size()));
  outCode = reply.empty() ? transport::kNoReply : transport::kOk;
  return reply;
}

int ClientRequest::openGet(std::string_view url, const std::function<void()>& addHeaders) {
  m_headers.clear();
  m_body.clear();
  if (ParseUrl(url) != 0) return get::kBadUrlOrStatus;
  AddHeader("Host: " + m_host);
  addHeaders();
  if (!m_socket.connect(m_address, m_port)) return get::kConnectFailed;
  m_localAddress = m_socket.localAddress();
  std::string request = "GET ";
  if (m_target.empty() || m_target.front() != '/') request += '/';
  request += m_target + " HTTP/1.0\r\n";
  for (const std::string& h : m_extraHeaders) request += h;
  request += "\r\n";
  if (!sendInPieces(m_socket.fd(), request)) {
    m_socket.close();
    return get::kSendOrReceive;
  }
  return get::kOk;
}

void ClientRequest::readHeaders(Clock::time_point deadline) {
  std::string line;
  while (m_headers.size() < kMaxHeaderLines) {
    if (readLine(m_socket.fd(), line, kGetLine, 5, deadline) <= 2) break;
    trimLineEnd(line);
    m_headers.push_back(line);
  }
}

std::string ClientRequest::headerValue(std::string_view name) const {
  for (const std::string& h : m_headers) {
    const std::size_t colon = h.find(": ");
    if (colon != std::string::npos && equalsNoCase(std::string_view(h).substr(0, colon), name)) {
      const std::size_t v = h.find_first_not_of(' ', h.find(':') + 1);
      return v == std::string::npos ? std::string() : h.substr(v);
    }
  }
  return {};
}

int ClientRequest::GetText(std::string_view url) {
  if (const int rc = openGet(url, [] {}); rc != get::kOk) return rc;
  const auto deadline = Clock::now() + kReplyDeadline;
  readHeaders(deadline);

  bool textual = false;
  for (const std::string& h : m_headers) {
    const std::size_t colon = h.find(':');
    if (colon != std::string::npos && equalsNoCase(std::string_view(h).substr(0, colon), "Content-Type")) {
      textual = startsWithNoCase(h, "Content-Type: text/html") || startsWithNoCase(h, "Content-Type: text/plain");
      break;
    }
  }
  if (!textual) {
    m_socket.close();
    return get::kWrongTypeOrWrite;
  }
  std::string line;
  std::size_t total = 0;
  while (total < kMaxReplyBytes && readLine(m_socket.fd(), line, kGetLine, 5, deadline) > 0) {
    total += line.size();
    m_body.push_back(line);
  }
  m_socket.close();
  return get::kOk;
}

int ClientRequest::GetFile(std::string_view url, const std::string& path, DownloadTarget& record) {
  const int rc = openGet(url, [&] {
    AddHeader("User-Agent: Vantrel Client/" + std::to_string(m_clientVersion) + "/windows");
    if (record.resume()) {
      AddHeader("Range: bytes=" + std::to_string(record.resumeOffset()) + "-" +
                std::to_string(record.expectedSize()));
    }
  });
  if (rc != get::kOk) return rc;
  const int fd = m_socket.fd();
  const auto deadline = Clock::now() + kReplyDeadline;

  std::string first;
  readLine(fd, first, kGetLine, 5, deadline);
  if (startsWithNoCase(first, "client=")) {
    trimLineEnd(first);
    record.peerError(first);
    m_socket.close();
    return get::kPeerErrorOrNoLength;
  }
  if (first.size() > 2) {
    trimLineEnd(first);
    m_headers.push_back(first);
    readHeaders(deadline);
  }
  const int status = StatusCode();
  // A file manager answers a range that starts at the end of the file with 416
  // and "bytes */SIZE": a resumed download that already holds all SIZE bytes
  // is complete, not failed.
  if (status == 416 && record.resume() && record.resumeOffset() > 0 && ContentLength() == record.resumeOffset()) {
    m_socket.close();
    record.setLength(0);
    record.progress(record.resumeOffset());
    return get::kOk;
  }
  if (status != 200 && status != 206) {
    m_socket.close();
    return get::kBadUrlOrStatus;
  }
  const long length = ContentLength();
  if (length == -1) {
    m_socket.close();
    return get::kNoLength;
  }
  record.setLength(length);
  if (status == 200) record.setResumeOffset(0);
  const UniqueFd file = openBodyFile(path, status != 200);
  int body = file ? 0 : 1;
  if (body == 0) {
    // The wait for each piece is the socket's receive time-out.
    m_socket.setReceiveTimeout(kPieceWait);
    long received = 0;
    long periodBytes = 0;
    auto periodStart = Clock::now();
    const BodyEnd end = BodyCopier(fd, file.get()).run([&](long n) {
      received += n;
      periodBytes += n;
      if (const auto now = Clock::now(); now - periodStart >= milliseconds(3001)) {
        record.setRate(periodBytes / 3);
        periodBytes = 0;
        periodStart = now;
      }
      return record.progress(record.resumeOffset() + received);
    });
    body = bodyResult(end, get::kBadUrlOrStatus);
  }
  m_socket.close();
  return body == 0 ? get::kOk : get::kNoLength + body;
}

int ClientRequest::GetUpdateFile(std::string_view url, const std::string& path,
                                 const std::function<void(long)>& onLength) {
  if (const int rc = openGet(url, [] {}); rc != get::kOk) return rc;
  const int fd = m_socket.fd();
  readHeaders(Clock::now() + kReplyDeadline);
  // An error page is not the file: it must never be installed as one.
  if (StatusCode() != 200) {
    m_socket.close();
    return get::kBadUrlOrStatus;
  }

  long length = -1;
  for (const std::string& h : m_headers) {
    const std::size_t colon = h.find(':');
    if (colon != std::string::npos && equalsNoCase(std::string_view(h).substr(0, colon), "Content-length")) {
      length = std::strtol(h.c_str() + colon + 1, nullptr, 10);
      break;
    }
  }
  if (length < 0) {
    m_socket.close();
    return get::kPeerErrorOrNoLength;
  }
  if (onLength) onLength(length);

  const UniqueFd file = openBodyFile(path, false);
  int body = file ? 0 : 1;
  long total = 0;
  if (body == 0) {
    const BodyEnd end = BodyCopier(fd, file.get()).run([&](long n) {
      total += n;
      return !m_progress || m_progress(progress::kBodyPiece, total) != 0;
    });
    body = bodyResult(end, get::kSendOrReceive);
  }
  // A connection that ends before the announced length is a broken download, not
  // a finished one: the update must never be handed over half written.
  if (body == 0 && total < length) body = get::kSendOrReceive;
  m_socket.close();
  return body == 0 ? get::kOk : get::kWrongTypeOrWrite + body;
}

int ClientRequest::StatusCode() const {
  if (m_headers.empty()) return 0;
  const std::string& status = m_headers.front();
  const std::size_t space = status.find(' ');
  if (space == std::string::npos) return 0;
  return static_cast<int>(std::strtol(status.c_str() + space + 1, nullptr, 10));
}

long ClientRequest::ContentLength() const {
  if (const std::string v = headerValue("Content-length"); !v.empty()) return std::strtol(v.c_str(), nullptr, 10);
  for (const std::string& h : m_headers) {
    const std::size_t colon = h.find(": ");
    if (colon != std::string::npos && equalsNoCase(std::string_view(h).substr(0, colon), "Content-range")) {
      const std::size_t slash = h.find('/', colon);
      return slash == std::string::npos ? -1 : std::strtol(h.c_str() + slash + 1, nullptr, 10);
    }
  }
  return -1;
}

}  // namespace vantrel
