// The yes/no/quit question: accepted words, the empty line, end of input,
// over-long lines, silent answers, and what the console and the log receive.
#include "select_fixture.h"

namespace select_test {
namespace {

constexpr const char *kQuestion = "Update PXE 1.2.3 to 1.2.4 - ";

class PromptTest : public SelectTest {
  protected:
    int Ask(int silent, int forced, int empty, const char *shown) {
        Capture();
        const int answer = PromptYesNoQuit(kQuestion, silent, forced, empty, shown);
        Collect();
        return answer;
    }
};

struct WordRow {
    const char *input;
    int empty_answer; // with the matching default shown
    int expected;
};

const WordRow kWords[] = {
    {"y\n", ANSWER_NO, ANSWER_YES},      {"yes\n", ANSWER_NO, ANSWER_YES},
    {"Y\n", ANSWER_NO, ANSWER_YES},      {"Yes\n", ANSWER_NO, ANSWER_YES},
    {"YES\n", ANSWER_NO, ANSWER_YES},    {"q\n", ANSWER_YES, ANSWER_QUIT},
    {"Q\n", ANSWER_YES, ANSWER_QUIT},    {"Quit\n", ANSWER_YES, ANSWER_QUIT},
    {"QUIT\n", ANSWER_YES, ANSWER_QUIT}, {"quit\n", ANSWER_YES, ANSWER_QUIT},
    {"n\n", ANSWER_YES, ANSWER_NO},      {"no\n", ANSWER_YES, ANSWER_NO},
    {"N\n", ANSWER_YES, ANSWER_NO},      {"NO\n", ANSWER_YES, ANSWER_NO},
    {"yEs\n", ANSWER_YES, ANSWER_NO},    {"yES\n", ANSWER_YES, ANSWER_NO},
    {"YEs\n", ANSWER_YES, ANSWER_NO},    {"yes \n", ANSWER_YES, ANSWER_NO},
    {" y\n", ANSWER_YES, ANSWER_NO},     {"qUIT\n", ANSWER_YES, ANSWER_NO},
    {"QUit\n", ANSWER_YES, ANSWER_NO},   {"quiT\n", ANSWER_YES, ANSWER_NO},
    {"x\n", ANSWER_YES, ANSWER_NO},      {"\n", ANSWER_YES, ANSWER_YES},
    {"\n", ANSWER_NO, ANSWER_NO},        {" \n", ANSWER_YES, ANSWER_NO},
    {"\t\n", ANSWER_YES, ANSWER_NO},     {"y", ANSWER_NO, ANSWER_YES},
    {"n", ANSWER_YES, ANSWER_NO},        {"q", ANSWER_YES, ANSWER_QUIT},
    {"Yes", ANSWER_NO, ANSWER_YES},      {"yes\nq\n", ANSWER_NO, ANSWER_YES},
};

// Every accepted word, the mixed cases that mean no, the empty line under both
// defaults, a last line without its line feed; the prompt on the console and,
// in the log, the prompt followed by the answer exactly as typed.
TEST_F(PromptTest, AnswersAndTranscript) {
    for (const WordRow &row : kWords) {
        SCOPED_TRACE(testing::Message() << "input \"" << row.input << "\"");
        TearDown();
        SetUp();
        Feed(row.input);
        const char *shown = row.empty_answer == ANSWER_YES ? "y" : "n";
        const int answer = Ask(ANSWER_NO, ANSWER_NO, row.empty_answer, shown);
        EXPECT_EQ(answer, row.expected);
        const std::string prompt = std::string(kQuestion) + " y/n/q (" + shown + "):";
        EXPECT_EQ(out_, prompt);
        std::string first_line = row.input;
        const size_t lf = first_line.find('\n');
        if (lf != std::string::npos) {
            first_line.resize(lf + 1);
        }
        EXPECT_EQ(Log(), prompt + first_line);
    }
}

// One question reads one line: the next line is left for the next question.
TEST_F(PromptTest, ReadsOneLinePerQuestion) {
    Feed("n\nquit\n\n");
    EXPECT_EQ(Ask(ANSWER_NO, ANSWER_NO, ANSWER_YES, "y"), ANSWER_NO);
    EXPECT_EQ(Ask(ANSWER_NO, ANSWER_NO, ANSWER_YES, "y"), ANSWER_QUIT);
    EXPECT_EQ(Ask(ANSWER_NO, ANSWER_NO, ANSWER_YES, "y"), ANSWER_YES);
    const std::string p = std::string(kQuestion) + " y/n/q (y):";
    EXPECT_EQ(Log(), p + "n\n" + p + "quit\n" + p + "\n");
}

TEST_F(PromptTest, EndOfInputAnswersNoEveryTime) {
    Feed("");
    const std::string p = std::string(kQuestion) + " y/n/q (y):";
    const std::string problem = "Unknown input problem!\r\nQuit...\r\n";
    EXPECT_EQ(Ask(ANSWER_YES, ANSWER_YES, ANSWER_YES, "y"), ANSWER_NO);
    EXPECT_EQ(out_, p + problem);
    EXPECT_EQ(Ask(ANSWER_YES, ANSWER_YES, ANSWER_YES, "y"), ANSWER_NO);
    EXPECT_EQ(out_, p + problem);
    EXPECT_EQ(Log(), p + problem + p + problem);
    EXPECT_EQ(RunFlags & RUN_CANCELLED, 0u);
}

// The end of input after a last full line is reported at the next question.
TEST_F(PromptTest, EndOfInputAfterLastLine) {
    Feed("y");
    EXPECT_EQ(Ask(ANSWER_NO, ANSWER_NO, ANSWER_NO, "n"), ANSWER_YES);
    EXPECT_EQ(Ask(ANSWER_NO, ANSWER_NO, ANSWER_YES, "y"), ANSWER_NO);
    EXPECT_NE(out_.find("Unknown input problem!"), std::string::npos);
}

// The rest of an over-long line is dropped: it never answers the next question.
TEST_F(PromptTest, OverLongLineIsNoAndDiscarded) {
    const std::string longline(100, 'y');
    Feed(longline + "\nq\n");
    EXPECT_EQ(Ask(ANSWER_YES, ANSWER_YES, ANSWER_YES, "y"), ANSWER_NO);
    EXPECT_EQ(Ask(ANSWER_YES, ANSWER_YES, ANSWER_YES, "y"), ANSWER_QUIT);
    const std::string p = std::string(kQuestion) + " y/n/q (y):";
    EXPECT_EQ(Log(), p + longline.substr(0, 79) + "\n" + p + "q\n");
}

// 79 characters and the line feed: the line feed does not become an empty
// answer to the next question.
TEST_F(PromptTest, SeventyNineCharactersAndLineFeed) {
    Feed(std::string(79, 'a') + "\n" + "n\n");
    EXPECT_EQ(Ask(ANSWER_YES, ANSWER_YES, ANSWER_YES, "y"), ANSWER_NO);
    EXPECT_EQ(Ask(ANSWER_YES, ANSWER_YES, ANSWER_YES, "y"), ANSWER_NO);
    EXPECT_EQ(RestOfInput(), "");
}

// A last line of 79 characters cut off by the end of input is a complete line.
TEST_F(PromptTest, SeventyNineCharactersAtEndOfInput) {
    const std::string line(79, 'b');
    Feed(line);
    EXPECT_EQ(Ask(ANSWER_YES, ANSWER_YES, ANSWER_YES, "y"), ANSWER_NO);
    const std::string p = std::string(kQuestion) + " y/n/q (y):";
    EXPECT_EQ(Log(), p + line);
}

TEST_F(PromptTest, SilentRunsAnswerAlone) {
    struct Row {
        uint32_t flags;
        int expected;
    } rows[] = {
        {RUN_SILENT, ANSWER_NO},
        {RUN_SILENT | RUN_FORCE, ANSWER_YES},
    };
    for (const Row &row : rows) {
        Feed("q\n");
        RunFlags = RUN_LOG_READY | row.flags;
        EXPECT_EQ(Ask(ANSWER_NO, ANSWER_YES, ANSWER_QUIT, "n"), row.expected);
        EXPECT_EQ(out_, "");
        EXPECT_EQ(Log(), "");
        EXPECT_EQ(RestOfInput(), "q\n");                // nothing was read
        EXPECT_EQ(RunFlags, RUN_LOG_READY | row.flags); // and nothing changed
    }
}

// Forcing without silence still asks.
TEST_F(PromptTest, ForceAloneStillAsks) {
    RunFlags |= RUN_FORCE;
    Feed("n\n");
    EXPECT_EQ(Ask(ANSWER_NO, ANSWER_YES, ANSWER_YES, "y"), ANSWER_NO);
    EXPECT_EQ(out_, std::string(kQuestion) + " y/n/q (y):");
}

// A question too long for the 79-character line is cut, never overflowed.
TEST_F(PromptTest, LongQuestionIsCut) {
    const std::string question(200, 'Q');
    Feed("y\n");
    Capture();
    EXPECT_EQ(PromptYesNoQuit(question.c_str(), ANSWER_NO, ANSWER_NO, ANSWER_NO, "n"), ANSWER_YES);
    Collect();
    EXPECT_EQ(out_, std::string(79, 'Q'));
}

// Exactly 79 characters fit.
TEST_F(PromptTest, PromptOfSeventyNineCharactersFits) {
    const std::string question(79 - strlen(" y/n/q (n):"), 'Z');
    Feed("\n");
    Capture();
    EXPECT_EQ(PromptYesNoQuit(question.c_str(), ANSWER_YES, ANSWER_YES, ANSWER_NO, "n"), ANSWER_NO);
    Collect();
    EXPECT_EQ(out_, question + " y/n/q (n):");
}

} // namespace
} // namespace select_test
