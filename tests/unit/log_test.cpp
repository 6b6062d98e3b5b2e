#include "gtest/gtest.h"
#include "host/log.h"

// Linux's /dev/full, which Wine shows as Z:\dev\full: every write to it fails
// as on a full disk.
TEST(Log, AWriteThatFailsClosesTheLog) {
    ASSERT_TRUE(runtime::OpenLog(L"Z:\\dev\\full"));
    ASSERT_TRUE(runtime::LogIsOpen());
    runtime::Log(L"a line that does not fit");
    EXPECT_FALSE(runtime::LogIsOpen());
}
