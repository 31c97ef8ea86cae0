#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <string>

#include "FileLock.h"
#include "LockHolder.h"

using platform::FileLock;
using Status = platform::FileLock::Status;

namespace {

class FileLockTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/zor_lock_XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        m_dir = pattern;
        m_path = m_dir + "/token.lck";
    }
    void TearDown() override {
        ::unlink(m_path.c_str());
        ::rmdir(m_dir.c_str());
    }
    std::string m_dir;
    std::string m_path;
};

TEST_F(FileLockTest, FailuresAreReturnedAsValues) {
    FileLock lock;
    EXPECT_EQ(lock.TryLock(), Status::NotOpen);
    EXPECT_FALSE(lock.Open(m_dir + "/no/such/folder/token.lck"));
    EXPECT_EQ(lock.LastError(), ENOENT);
    EXPECT_FALSE(lock.LastErrorText().empty());
    EXPECT_FALSE(lock.IsOpen());
    EXPECT_EQ(lock.TryLock(), Status::NotOpen);
}

TEST_F(FileLockTest, ExcludesOtherDescriptorsOfThisProcessUntilClosed) {
    FileLock first;
    ASSERT_TRUE(first.Open(m_path));
    ASSERT_EQ(first.TryLock(0, 256), Status::Locked);

    FileLock second;
    ASSERT_TRUE(second.Open(m_path));
    EXPECT_EQ(second.TryLock(0, 256), Status::Busy);
    EXPECT_EQ(second.TryLock(255, 1), Status::Busy);  // overlaps the last byte
    EXPECT_EQ(second.TryLock(256, 256), Status::Locked) << "bytes past 255 are not covered";

    // Opening and closing the file elsewhere in the process must not drop
    // the first holder's lock (it would with classic record locks).
    {
        FileLock bystander;
        ASSERT_TRUE(bystander.Open(m_path));
    }
    FileLock third;
    ASSERT_TRUE(third.Open(m_path));
    EXPECT_EQ(third.TryLock(0, 256), Status::Busy);

    first.Close();
    EXPECT_EQ(third.TryLock(0, 256), Status::Locked);
}

TEST_F(FileLockTest, MovedLockKeepsTheRange) {
    FileLock original;
    ASSERT_TRUE(original.Open(m_path));
    ASSERT_EQ(original.TryLock(), Status::Locked);
    FileLock moved(std::move(original));
    EXPECT_FALSE(original.IsOpen());
    FileLock other;
    ASSERT_TRUE(other.Open(m_path));
    EXPECT_EQ(other.TryLock(), Status::Busy);
    FileLock assigned;
    assigned = std::move(moved);
    EXPECT_EQ(other.TryLock(), Status::Busy);
    assigned.Close();
    EXPECT_EQ(other.TryLock(), Status::Locked);
}

TEST_F(FileLockTest, ExcludesAnotherProcessBothWays) {
    {
        FileLock mine;
        ASSERT_TRUE(mine.Open(m_path));
        ASSERT_EQ(mine.TryLock(), Status::Locked);
        LockHolder probe(m_path, 0);
        EXPECT_EQ(probe.Word(), "busy");
        LockHolder classicProbe(m_path, 0, /*classic=*/true);
        EXPECT_EQ(classicProbe.Word(), "busy");
    }
    for (bool classic : {false, true}) {
        SCOPED_TRACE(classic ? "classic record lock" : "seam lock");
        std::optional<LockHolder> holder;
        holder.emplace(m_path, 60000, classic);
        ASSERT_EQ(holder->Word(), "locked");
        FileLock mine;
        ASSERT_TRUE(mine.Open(m_path));
        EXPECT_EQ(mine.TryLock(), Status::Busy);
        EXPECT_EQ(mine.LastError(), EAGAIN);
        holder.reset();  // the holder is killed; its lock goes with it
        EXPECT_EQ(mine.TryLock(), Status::Locked);
    }
}

}  // namespace
