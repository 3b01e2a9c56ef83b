// The yes/no/quit question: accepted words, the empty line, end of input,
// over-long lines, silent answers, and what the console and the log receive.
#include "select_fixture.h"

namespace select_test {
namespace {

constexpr const char *kQuestion = "Update PXE 1.2.3 to 1.2.4 - ";

class PromptTest : public SelectTest {};

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
        Capture();
        EXPECT_EQ(PromptYesNoQuit(kQuestion, ANSWER_NO, ANSWER_NO, row.empty_answer, shown),
                  row.expected);
        Collect();
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

constexpr int YES = ANSWER_YES, NO = ANSWER_NO, QUIT = ANSWER_QUIT;

// The prompt as shown for the test question with the given default.
std::string P(const char *shown) {
    return std::string(kQuestion) + " y/n/q (" + shown + "):";
}
const std::string kProblem = "Unknown input problem!\r\nQuit...\r\n";

// One question of a sequence: the arguments, the answer and the console text.
struct AskStep {
    int silent, forced, empty;
    const char *shown;
    int answer;
    std::string out;
};

// Questions asked one after the other on one input: each answer and console
// text, then the log, what is left of the input and the flags (unchanged but
// for the log's open bit).
struct SequenceCase {
    const char *name;
    uint32_t flags; // besides RUN_LOG_READY
    std::string input;
    std::vector<AskStep> asks;
    std::string log;
    std::string rest = "";
    std::string question = kQuestion;
};

SequenceCase Sequence(const char *name, uint32_t flags, std::string input,
                      std::vector<AskStep> asks, std::string log, std::string rest = "",
                      std::string question = kQuestion) {
    return {name, flags, input, asks, log, rest, question};
}

const SequenceCase kSequences[] = {
    // One question reads one line: the next line is left for the next question.
    Sequence("ReadsOneLinePerQuestion", 0, "n\nquit\n\n",
             {{NO, NO, YES, "y", NO, P("y")},
              {NO, NO, YES, "y", QUIT, P("y")},
              {NO, NO, YES, "y", YES, P("y")}},
             P("y") + "n\n" + P("y") + "quit\n" + P("y") + "\n"),
    Sequence(
        "EndOfInputAnswersNoEveryTime", 0, "",
        {{YES, YES, YES, "y", NO, P("y") + kProblem}, {YES, YES, YES, "y", NO, P("y") + kProblem}},
        P("y") + kProblem + P("y") + kProblem),
    // The end of input after a last full line is reported at the next question.
    Sequence("EndOfInputAfterLastLine", 0, "y",
             {{NO, NO, NO, "n", YES, P("n")}, {NO, NO, YES, "y", NO, P("y") + kProblem}},
             P("n") + "y" + P("y") + kProblem),
    // The rest of an over-long line is dropped: it never answers the next question.
    Sequence("OverLongLineIsNoAndDiscarded", 0, std::string(100, 'y') + "\nq\n",
             {{YES, YES, YES, "y", NO, P("y")}, {YES, YES, YES, "y", QUIT, P("y")}},
             P("y") + std::string(79, 'y') + "\n" + P("y") + "q\n"),
    // 79 characters and the line feed: the line feed does not become an empty
    // answer to the next question.
    Sequence("SeventyNineCharactersAndLineFeed", 0, std::string(79, 'a') + "\nn\n",
             {{YES, YES, YES, "y", NO, P("y")}, {YES, YES, YES, "y", NO, P("y")}},
             P("y") + std::string(79, 'a') + "\n" + P("y") + "n\n"),
    // A last line of 79 characters cut off by the end of input is a complete line.
    Sequence("SeventyNineCharactersAtEndOfInput", 0, std::string(79, 'b'),
             {{YES, YES, YES, "y", NO, P("y")}}, P("y") + std::string(79, 'b')),
    // Silent runs answer alone: nothing is read, shown or logged.
    Sequence("SilentRunsAnswerAlone/silent", RUN_SILENT, "q\n", {{NO, YES, QUIT, "n", NO, ""}}, "",
             "q\n"),
    Sequence("SilentRunsAnswerAlone/forced", RUN_SILENT | RUN_FORCE, "q\n",
             {{NO, YES, QUIT, "n", YES, ""}}, "", "q\n"),
    // Forcing without silence still asks.
    Sequence("ForceAloneStillAsks", RUN_FORCE, "n\n", {{NO, YES, YES, "y", NO, P("y")}},
             P("y") + "n\n"),
    // A question too long for the 79-character line is cut, never overflowed.
    Sequence("LongQuestionIsCut", 0, "y\n", {{NO, NO, NO, "n", YES, std::string(79, 'Q')}},
             std::string(79, 'Q') + "y\n", "", std::string(200, 'Q')),
    // Exactly 79 characters fit.
    Sequence("PromptOfSeventyNineCharactersFits", 0, "\n",
             {{YES, YES, NO, "n", NO, std::string(68, 'Z') + " y/n/q (n):"}},
             std::string(68, 'Z') + " y/n/q (n):\n", "",
             std::string(79 - strlen(" y/n/q (n):"), 'Z')),
};

TEST_F(PromptTest, QuestionSequences) {
    for (const SequenceCase &c : kSequences) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        RunFlags |= c.flags;
        Feed(c.input);
        for (const AskStep &ask : c.asks) {
            Capture();
            EXPECT_EQ(
                PromptYesNoQuit(c.question.c_str(), ask.silent, ask.forced, ask.empty, ask.shown),
                ask.answer);
            Collect();
            EXPECT_EQ(out_, ask.out);
        }
        EXPECT_EQ(Log(), c.log);
        EXPECT_EQ(RestOfInput(), c.rest);
        EXPECT_EQ(RunFlags, RUN_LOG_READY | c.flags | (c.log.empty() ? 0 : RUN_LOG_OPEN));
    }
}

} // namespace
} // namespace select_test
