#include "gtest/gtest.h"
#include "host/log.h"

// Linux's /dev/full, which Wine shows as Z:\dev\full: every write to it fails
// as on a full disk.
TEST(Log, AWriteThatFailsClosesTheLog) {
    ASSERT_TRUE(host::OpenLog(L"Z:\\dev\\full"));
    ASSERT_TRUE(host::LogIsOpen());
    host::Log(L"a line that does not fit");
    EXPECT_FALSE(host::LogIsOpen());
}
