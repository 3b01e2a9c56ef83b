// The writer tool's command line: the arguments quoted by the writers come
// back exactly when the line is split by the Windows rules, paths with a
// double quote or a control character are refused, and the splitter itself
// gives the results Windows gives for hand-written lines.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/command_split.h"
#include "write/write.h"

namespace {

using Words = std::vector<std::string>;

// line null: the line is built by the writers' quoting from the words after
// the tool path, and passable says whether all of them may reach the tool.
// line given: a hand-written line and the words Windows splits it into.
struct Row {
    const char *line;
    Words words;
    bool passable;
};

const Row kRows[] = {
    {nullptr,
     {"0A1B2C3D4E5F", "upgrade", "-bc", "./NIC_FW/Boot_Code/bc504.bin", "C:/V/0A.bc5.0.3.bin"},
     true},
    {nullptr,
     {"0A1B2C3D4E5F", "restore", "C:/VLMSYSTEM/NICFWBACKUP/0A1B2C3D4E5F.bc5.0.3 - Copy.bin"},
     true},
    {nullptr, {"  two  blanks ", "a\tb"}, false},
    {nullptr, {"ends in\\", "ends in two\\\\", "in\\\\side b", "\\\\server\\share x"}, true},
    {nullptr, {"\xe9t\xe9 \xff"}, true},
    {nullptr, {"a\\\"b", "\\\\\" c"}, false},
    {nullptr, {"\"", ""}, false},
    {nullptr, {"line\nbreak"}, false},
    {nullptr, {"bell\x07"}, false},
    {nullptr, {"del\x7f"}, false},
    // 2n backslashes before a quote are n and the quote opens or closes, 2n+1
    // are n and a literal quote; "" inside quotes is a quote, and they go on.
    {".\\imgwriter  0A1B2C3D4E5F upgrade -bc ./a.bin",
     {".\\imgwriter", "0A1B2C3D4E5F", "upgrade", "-bc", "./a.bin"},
     true},
    {"p \"abc\" d\te", {"p", "abc", "d", "e"}, true},
    {"p a\\\\b d\"e f\"g h", {"p", "a\\\\b", "de fg", "h"}, true},
    {"p a\\\\\\\"b c d", {"p", "a\\\"b", "c", "d"}, true},
    {"p a\\\\\\\\\"b c\" d e", {"p", "a\\\\b c", "d", "e"}, true},
    {"p a\"b\"\" c d", {"p", "ab\" c d"}, true},
    {"p \"\" \"open to the end", {"p", "", "open to the end"}, true},
    // The program name knows no escapes.
    {"\"C:\\Program Files\\t.exe\" x", {"C:\\Program Files\\t.exe", "x"}, true},
    {".\\dir\\\"a b\" c", {".\\dir\\a b", "c"}, true},
    {"", {""}, true},
};

TEST(ToolCommandLine, QuotedArgumentsSplitBackExactly) {
    for (const Row &row : kRows) {
        if (row.line != nullptr) {
            EXPECT_EQ(plat_split_command_line(row.line), row.words) << row.line;
            continue;
        }
        std::string line = WRITER_TOOL_PATH;
        bool passable = true;
        for (const std::string &arg : row.words) {
            char quoted[WRITER_COMMAND_SIZE];
            ASSERT_EQ(QuoteCommandArgument(arg.c_str(), quoted, sizeof quoted), 1) << arg;
            if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) {
                EXPECT_EQ(std::string(quoted), arg) << "left as it is";
            }
            line += std::string(" ") + quoted;
            passable = passable && IsPassableArgument(arg.c_str()) == 1;
        }
        Words expected = row.words;
        expected.insert(expected.begin(), WRITER_TOOL_PATH);
        EXPECT_EQ(plat_split_command_line(line.c_str()), expected) << line;
        EXPECT_EQ(passable, row.passable) << line;
    }
    char small[8];
    EXPECT_EQ(QuoteCommandArgument("a b\\\\cd", small, sizeof small), 0) << "never cut";
    EXPECT_STREQ(small, "");
}

} // namespace
