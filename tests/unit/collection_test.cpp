#include "runtime/collection.h"
#include "tests/unit/error_matchers.h"

TEST(Collection, AppendsInOrderWithDuplicates) {
    runtime::Collection list;
    EXPECT_EQ(0, list.Count());
    list.Add(L"b");
    list.Add(L"a");
    list.Add(L"b");
    ASSERT_EQ(3, list.Count());
    EXPECT_EQ(L"b", list.Item(1));
    EXPECT_EQ(L"a", list.Item(2));
    EXPECT_EQ(L"b", list.Item(3));
}

TEST(Collection, PositionsOutsideOneToCountRaiseError9) {
    runtime::Collection list;
    EXPECT_RUNTIME_ERROR(list.Item(1), 9);
    list.Add(L"x");
    EXPECT_RUNTIME_ERROR(list.Item(0), 9);
    EXPECT_RUNTIME_ERROR(list.Item(2), 9);
    EXPECT_RUNTIME_ERROR(list.Item(-1), 9);
}
