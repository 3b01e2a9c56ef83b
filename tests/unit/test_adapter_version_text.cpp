// ParseVersionText: right-to-left parsing of the library's version texts.
#include <gtest/gtest.h>

#include <string>

#include "adapter/firmware.h"
#include "select/select.h"

namespace {

struct VersionCase {
    const char *text;
    uint32_t major;
    uint32_t minor;
    uint32_t build;
};

const VersionCase kCases[] = {
    {"1.9.6", 1, 9, 6},
    {"bc 1.9.6", 1, 9, 6},
    {"4.1.2.7", 1, 2, 7},
    {"2.0", 2, 2, 0},
    {"5", 5, 5, 5},
    {"", 0, 0, 0},
    {"-1.2.3", 0xFFFFFFFFu, 2, 3},
    {"+4.5.6", 4, 5, 6},
    {"300.1.2", 300, 1, 2},
    {"1.2.", 1, 2, 0},      // empty build token
    {"v1.2.3", 0, 2, 3},    // no digits before the first other character
    {"8.3.2b", 8, 3, 2},    // digits up to the first other character
    {"PXE 8.3 x", 8, 3, 0}, // spaces separate like full stops
    {"1.2.3.", 2, 3, 0},    // trailing full stop: an empty build
    {"\t7.1.1", 7, 1, 1},   // leading blanks skipped
    {"10 20 30", 10, 20, 30},
    {"4294967297.0.1", 2147483647, 0, 1}, // stops at INT_MAX, as the catalogue's numbers do
};

void PrintTo(const VersionCase &c, std::ostream *os) {
    *os << '"' << c.text << '"';
}

class ParseVersionTextTest : public ::testing::TestWithParam<VersionCase> {};

// Each text is parsed in a buffer of its own, which the parse leaves unchanged.
TEST_P(ParseVersionTextTest, GivesMajorMinorBuild) {
    const VersionCase &c = GetParam();
    SCOPED_TRACE('"' + std::string(c.text) + '"');
    std::string text = c.text;
    Version v = ParseVersionText(&text[0]);
    EXPECT_EQ(v.major, c.major);
    EXPECT_EQ(v.minor, c.minor);
    EXPECT_EQ(v.build, c.build);
    EXPECT_EQ(text, c.text) << "LeavesTheTextUnchanged";
}

INSTANTIATE_TEST_SUITE_P(Texts, ParseVersionTextTest, ::testing::ValuesIn(kCases));

// The installed and the catalogue versions are compared number by number, so
// the two parsers must agree on every text of up to three numbers.
TEST(VersionTextAgreement, LibraryAndCatalogueTextsGiveEqualNumbers) {
    const char *const texts[] = {"1.9.6",
                                 "2.0",
                                 "5",
                                 "",
                                 "0.0.0",
                                 "-1.2.3",
                                 "+4.5.6",
                                 "300.1.2",
                                 "4294967296.1.2",
                                 "2147483648.0.1",
                                 "-99999999999.0.0",
                                 "12a.3b.4c",
                                 "1..2"};
    for (const char *text : texts) {
        SCOPED_TRACE(text);
        const Version a = ParseVersionText(text);
        const Version b = ParseCatalogueVersion(text);
        EXPECT_EQ(a.major, b.major);
        EXPECT_EQ(a.minor, b.minor);
        EXPECT_EQ(a.build, b.build);
    }
}

} // namespace
