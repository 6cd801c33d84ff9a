#include <gtest/gtest.h>

#include "base/errors.h"
#include "base/text.h"

TEST(NumericValue, ReadsTheLeadingNumberOnly) {
    EXPECT_EQ(numericValue(" 12ab"), 12);
    EXPECT_EQ(numericValue("1 2 3"), 123);
    EXPECT_EQ(numericValue("\t\n 42"), 42);
    EXPECT_EQ(numericValue("\r\n42"), 0);  // a carriage return is not skipped
    EXPECT_EQ(numericValue("42\r\n"), 42);
    EXPECT_EQ(numericValue("1.5e2x"), 150);
    EXPECT_EQ(numericValue("-3.25"), -3.25);
    EXPECT_EQ(numericValue("+7"), 7);
    EXPECT_EQ(numericValue("1.2.3"), 1.2);
    EXPECT_EQ(numericValue("5e"), 5);  // an exponent without digits is not one
}

TEST(NumericValue, HexAndOctalPrefixes) {
    EXPECT_EQ(numericValue("&H1F"), 31);
    EXPECT_EQ(numericValue("&h1f"), 31);
    EXPECT_EQ(numericValue("&O17"), 15);
    EXPECT_EQ(numericValue("&HFFFF"), -1);  // read as a 16-bit value, as the runtime does
    EXPECT_EQ(numericValue("&O9"), 0);
}

TEST(NumericValue, NoNumberGivesZero) {
    EXPECT_EQ(numericValue("abc"), 0);
    EXPECT_EQ(numericValue(""), 0);
    EXPECT_EQ(numericValue("-"), 0);
    EXPECT_EQ(numericValue("."), 0);
}

TEST(NumberText, ShortestPlainDecimal) {
    EXPECT_EQ(numberText(numericValue("1.5") * 60000), "90000");
    EXPECT_EQ(numberText(numericValue("0.5") * 60000), "30000");
    EXPECT_EQ(numberText(4.35 * 60000), "261000");  // 260999.99999999997 in binary
    EXPECT_EQ(numberText(0), "0");
    EXPECT_EQ(numberText(-0.0), "0");
    EXPECT_EQ(numberText(1e20), "100000000000000000000");
    EXPECT_EQ(numberText(0.000125), "0.000125");
    EXPECT_EQ(numberText(-2.5), "-2.5");
    EXPECT_EQ(numberText(25), "25");
}

TEST(SingleText, SevenSignificantDigits) {
    EXPECT_EQ(singleText(0.7055475f), "0.7055475");
    EXPECT_EQ(singleText(0.5f), "0.5");
    EXPECT_EQ(singleText(0.01234567f), "0.01234567");
}

TEST(ToLong, RoundsHalfToEvenAndRefusesOverflow) {
    EXPECT_EQ(toLong("2.5"), 2);
    EXPECT_EQ(toLong("3.5"), 4);
    EXPECT_EQ(toLong("1800000"), 1800000);
    EXPECT_EQ(toLong("2147483647"), 2147483647);
    try {
        toLong("2147483648");
        FAIL() << "no overflow raised";
    } catch (const RunError& e) {
        EXPECT_EQ(e.number, 6);
    }
    try {
        toLong("12ab");
        FAIL() << "no type mismatch raised";
    } catch (const RunError& e) {
        EXPECT_EQ(e.number, 13);
    }
}

TEST(Trim, RemovesBlanksOnly) {
    EXPECT_EQ(trimBlanks("  a b  "), "a b");
    EXPECT_EQ(trimBlanks("\ta\t"), "\ta\t");
    EXPECT_EQ(trimBlanks("   "), "");
}

TEST(CaseInsensitive, FindAndReplace) {
    EXPECT_EQ(findNoCase("xxHeLLo", "hello"), 2u);
    EXPECT_EQ(findNoCase("abc", "abcd"), std::string::npos);
    EXPECT_EQ(findNoCase("aAa", "a", 1), 1u);
    EXPECT_TRUE(equalsNoCase("MSMA", "msma"));
    EXPECT_FALSE(equalsNoCase("MSMA", "msma2"));
    EXPECT_EQ(replaceNoCase("Action_27_krn", "_KRN", ""), "Action_27");
    EXPECT_EQ(replaceNoCase("<A><a>", "<a>", "[x]"), "[x][x]");
    EXPECT_EQ(replaceAll("a''b", "'", "''"), "a''''b");
}

TEST(Split, EmptyTextHasNoPieces) {
    EXPECT_TRUE(splitText("", ",").empty());
    EXPECT_EQ(splitText("a", ",").size(), 1u);
    const auto pieces = splitText("%@%%@%", "%@%");
    ASSERT_EQ(pieces.size(), 3u);
    EXPECT_EQ(pieces[0], "");
    EXPECT_EQ(pieces[2], "");
    const auto mixed = splitNoCase("a</TABLE>b</table>c", "</table>");
    ASSERT_EQ(mixed.size(), 3u);
    EXPECT_EQ(mixed[1], "b");
}

TEST(Substrings, ShortTextsAreNotErrors) {
    EXPECT_EQ(leftText("ab", 5), "ab");
    EXPECT_EQ(rightText("ab", 5), "ab");
    EXPECT_EQ(rightText("abcdef", 2), "ef");
    EXPECT_EQ(midText("abcdef", 3, 2), "cd");
    EXPECT_EQ(midText("abc", 9), "");
    EXPECT_EQ(midText("abc", 2), "bc");
}

TEST(DatePictures, MonthMinuteAndSeconds) {
    const LocalTime t{2026, 12, 7, 9, 5, 7};
    EXPECT_EQ(formatPicture(t, "MM\\/DD\\/YYYY HH:MM:SS"), "12/07/2026 09:05:07");
    EXPECT_EQ(formatPicture(t, "mmddyyyyhhnnss"), "12072026090507");
    EXPECT_EQ(formatPicture(t, "MMDDYYYYHHMMSS"), "12072026090507");
    EXPECT_EQ(formatPicture(t, "MMDDYYYYHHNNSSS"), "120720260905077");
    const LocalTime t45{2026, 1, 2, 23, 59, 45};
    EXPECT_EQ(formatPicture(t45, "MMDDYYYYHHNNSSS"), "0102202623594545");
    EXPECT_EQ(formatPicture(t45, "MM\\/DD\\/YYYY"), "01/02/2026");
}

TEST(LocalTimeDays, CalendarDayDifferences) {
    const LocalTime a{2026, 3, 1, 0, 0, 0};
    const LocalTime b{2026, 2, 28, 23, 59, 0};
    EXPECT_EQ(a.dayNumber() - b.dayNumber(), 1);
    const LocalTime leap{2024, 3, 1, 0, 0, 0};
    const LocalTime feb{2024, 2, 28, 0, 0, 0};
    EXPECT_EQ(leap.dayNumber() - feb.dayNumber(), 2);
    EXPECT_EQ((LocalTime{1970, 1, 1, 0, 0, 0}).dayNumber(), 0);
}
