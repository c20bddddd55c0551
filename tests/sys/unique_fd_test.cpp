#include "sys/unique_fd.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <utility>

namespace velgor {
namespace {

bool isOpen(int fd) {
    return ::fcntl(fd, F_GETFD) != -1;
}

// Moves hand the descriptor on without closing it, a move-assignment closes what
// its target held, release() lets go without closing, the last owner closes.
TEST(UniqueFd, OneOwnerAtATimeAndTheLastOneCloses) {
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    int released;
    {
        UniqueFd a(ends[0]);
        UniqueFd b(std::move(a));
        UniqueFd c(ends[1]);
        c = std::move(b);
        EXPECT_FALSE(a.valid() || b.valid() || isOpen(ends[1]));
        EXPECT_TRUE(c && isOpen(ends[0]));
        released = c.release();
    }
    EXPECT_TRUE(isOpen(released));
    { const UniqueFd last(released); }
    EXPECT_FALSE(isOpen(released));
}

}  // namespace
}  // namespace velgor
