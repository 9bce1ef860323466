// SPDX-License-Identifier: MIT
#include "platform/unique_fd.h"

#include <fcntl.h>
#include <gtest/gtest.h>

namespace vantrel {
namespace {

bool isOpen(int fd) { return ::fcntl(fd, F_GETFD) != -1; }

TEST(UniqueFd, ClosesExactlyOnceAcrossMovesAndReleases) {
  int raw = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  ASSERT_GE(raw, 0);
  {
    UniqueFd a(raw);
    UniqueFd b(std::move(a));
    EXPECT_FALSE(a.valid());
    EXPECT_EQ(b.get(), raw);
    UniqueFd c;
    c = std::move(b);
    EXPECT_TRUE(isOpen(raw));
    EXPECT_EQ(c.get(), raw);
  }
  EXPECT_FALSE(isOpen(raw)) << "the last owner closes";

  int kept = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  { UniqueFd d(kept); EXPECT_EQ(d.release(), kept); }
  EXPECT_TRUE(isOpen(kept)) << "release gives up ownership";
  UniqueFd e(kept);
  e.reset();
  EXPECT_FALSE(isOpen(kept));
}

}  // namespace
}  // namespace vantrel
