#include "base/owner_table.h"

#include <gtest/gtest.h>

// The table behind the test builds' handle checks: a handle value has at most
// one owner at a time, within its kind, and only that owner can pass it on
// or let it go.
TEST(OwnerTable, OneOwnerPerHandleAndOnlyItLetsGo)
{
    OwnerTable table;
    int a = 0, b = 0;
    EXPECT_TRUE(table.take(HandleKind::kernel, 0x44, &a));
    EXPECT_FALSE(table.take(HandleKind::kernel, 0x44, &b));   // the reused value of a closed handle
    EXPECT_FALSE(table.take(HandleKind::kernel, 0x44, &a));
    EXPECT_TRUE(table.take(HandleKind::gdi, 0x44, &b));       // same value, another kind of handle

    EXPECT_FALSE(table.let_go(HandleKind::kernel, 0x44, &b));   // b does not hold it: nothing changes
    EXPECT_FALSE(table.move(HandleKind::kernel, 0x44, &b, &a));
    EXPECT_FALSE(table.let_go(HandleKind::kernel, 0x48, &a));
    EXPECT_EQ(table.size(), 2u);

    EXPECT_TRUE(table.move(HandleKind::kernel, 0x44, &a, &b));
    EXPECT_FALSE(table.let_go(HandleKind::kernel, 0x44, &a));   // a gave it away
    EXPECT_TRUE(table.let_go(HandleKind::kernel, 0x44, &b));
    EXPECT_TRUE(table.take(HandleKind::kernel, 0x44, &a));      // closed values may be handed out again
    EXPECT_TRUE(table.let_go(HandleKind::kernel, 0x44, &a));
    EXPECT_TRUE(table.let_go(HandleKind::gdi, 0x44, &b));
    EXPECT_EQ(table.size(), 0u);
}
