#include "update/journal.h"

#include <gtest/gtest.h>

TEST(Journal, StaleLinesThenRemovalsAlwaysFlaggedOne)
{
    std::string text = journal_text({{"bin/game.exe", true}, {"new.dat", false}},
                                    {"gone/a.pak", "z.txt"});
    EXPECT_EQ(text, "1 bin/game.exe\n0 new.dat\n1 gone/a.pak\n1 z.txt\n");
    EXPECT_EQ(journal_text({}, {}), "");
}

TEST(Journal, ParsesWhatItWrites)
{
    std::vector<StalePath> stale = {{"a/b.txt", true}, {"n\xc3\xa4me with blanks.dat", false}};
    auto entries = parse_journal(journal_text(stale, {"old/x"}));
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].flag, '1');
    EXPECT_EQ(entries[0].path, "a/b.txt");
    EXPECT_EQ(entries[1].flag, '0');
    EXPECT_EQ(entries[1].path, "n\xc3\xa4me with blanks.dat");
    EXPECT_EQ(entries[2].flag, '1');
    EXPECT_EQ(entries[2].path, "old/x");
}

TEST(Journal, LastLineWithoutLineFeedIsKept)
{
    auto entries = parse_journal("1 a.txt\n0 b.txt");
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[1].flag, '0');
    EXPECT_EQ(entries[1].path, "b.txt");
}

TEST(Journal, ShortLinesAreSkippedAndSeparatorIsNotChecked)
{
    // "1 " and "1" carry no path; an empty line is nothing; "1xp" still names "p".
    auto entries = parse_journal("1 \n\n1\n1xp\n0 q\n");
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].path, "p");
    EXPECT_EQ(entries[1].flag, '0');
    EXPECT_EQ(entries[1].path, "q");
}

TEST(Journal, OddFlagsAndCarriageReturnsPassThrough)
{
    // Any flag other than '1' deletes on replay, so the byte is kept as read;
    // a carriage return is part of the path (the writer never emits one).
    auto entries = parse_journal("x a\r\n");
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].flag, 'x');
    EXPECT_EQ(entries[0].path, "a\r");
}

TEST(Journal, LayoutLinesFollowTheOthersAndReadBack)
{
    std::string text = journal_text({{"data/thing/inner.bin", false}}, {"data/thing"}, {"data/thing"},
                                    {{"data/thing", "data/thing (kept files)"}});
    EXPECT_EQ(text, "0 data/thing/inner.bin\n1 data/thing\nd data/thing\nk data/thing\tdata/thing (kept files)\n");
    // A 'k' line without both of its paths names nothing to bring back.
    auto entries = parse_journal(text + "k lonely\nk \tx\nk x\t\n");
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[2].flag, 'd');
    EXPECT_EQ(entries[2].path, "data/thing");
    EXPECT_EQ(entries[3].flag, 'k');
    EXPECT_EQ(entries[3].path, "data/thing");
    EXPECT_EQ(entries[3].kept, "data/thing (kept files)");
}
