#include "base/log.h"

#include <gtest/gtest.h>

TEST(LogFormat, StampAndMessage)
{
    EXPECT_EQ(format_log_line(9, 5, 3, 7, "[1] checking for updates"),
              "09:05:03.007 [1] checking for updates\n");
}

TEST(LogFormat, LongMessageCutTo2047Bytes)
{
    std::string line = format_log_line(0, 0, 0, 0, std::string(3000, 'x'));
    EXPECT_EQ(line.size(), 13u + 2047u + 1u);
}
