// SPDX-License-Identifier: MIT
#pragma once
// HeadReader: reads the lines of a request head as readLine does, in fewer
// system calls. Its first read looks at everything that has arrived (one
// peek); when that holds the whole head, up to the empty line that ends it,
// the lines are handed out of that copy, and take() receives the bytes handed
// out in one call. When the head has not all arrived, or past its end, each
// line is read from the socket by readLine. Either way the socket keeps
// exactly what follows the lines handed out, so a body after the head is read
// from the socket as before. One per connection, used on its thread only; the
// socket is the caller's and must stay open while the reader is used.

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

#include "net/socket_io.h"

namespace vantrel {

// The next line of `pending` as readLine would store it in a buffer of
// maxBytes: up to and including the first CR LF, at most maxBytes - 1 bytes.
std::string_view nextHeadLine(std::string_view pending, std::size_t maxBytes);

class HeadReader {
 public:
  // Heads longer than this are read line by line.
  static constexpr std::size_t kLookBytes = 4096;

  explicit HeadReader(int fd) : m_fd(fd) {}
  HeadReader(const HeadReader&) = delete;
  HeadReader& operator=(const HeadReader&) = delete;

  // As readLine into a string. A line already copied is handed out without
  // waiting; waitSeconds or deadline must be set for the copy to be made.
  std::size_t readLine(std::string& line, std::size_t maxBytes, int waitSeconds,
                       SocketDeadline deadline = kNoDeadline);
  // Receives the lines handed out of the copy. Call it when the head is read
  // and before anything else reads from the socket; false when the socket
  // failed. Reading lines after it goes on from the socket.
  bool take();

 private:
  void look(int waitSeconds, SocketDeadline deadline);

  int m_fd;
  bool m_looked = false;
  std::size_t m_headBytes = 0;  // the whole head in m_copy; 0 when it was not all there
  std::size_t m_handed = 0;     // of those, handed out as lines
  std::size_t m_taken = 0;      // of those, received
  std::array<char, kLookBytes> m_copy;
};

}  // namespace vantrel
