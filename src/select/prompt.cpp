// PromptYesNoQuit: the yes/no/quit question, answered from one line of
// standard input, or by the caller's answers in a silent run.
#include <cstdio>
#include <cstring>

#include "output/output.h"
#include "base/runflags.h"
#include "select/plan.h"
#include "select/prompt.h"

namespace {

// 79 characters and the NUL, for the prompt line and for the answer line.
constexpr size_t PROMPT_LINE_SIZE = 80;

const char *const kYesWords[] = {"y", "yes", "Y", "Yes", "YES"};
const char *const kQuitWords[] = {"q", "Q", "Quit", "QUIT", "quit"};

bool IsOneOf(const char *line, const char *const *words, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        if (strcmp(line, words[i]) == 0) {
            return true;
        }
    }
    return false;
}

} // namespace

int PromptYesNoQuit(const char *question, int silent_answer, int forced_answer, int empty_answer,
                    const char *default_shown) {
    if ((RunFlags & RUN_SILENT) != 0) {
        return (RunFlags & RUN_FORCE) != 0 ? forced_answer : silent_answer;
    }

    // A question too long for the line is cut at 79 characters.
    char prompt[PROMPT_LINE_SIZE];
    snprintf(prompt, sizeof prompt, "%s y/n/q (%s):", question, default_shown);
    Output(0, "%s", prompt);
    fflush(stdout); // the line has no line end: show it before waiting for the answer

    char line[PROMPT_LINE_SIZE];
    if (fgets(line, sizeof line, stdin) == nullptr) {
        Output(ATTR_ERROR, "Unknown input problem!\r\nQuit...\r\n");
        return ANSWER_NO;
    }
    size_t length = strlen(line);
    const bool has_line_feed = length > 0 && line[length - 1] == '\n';

    // A full buffer without a line feed: unless the input ends here, the line is
    // longer than an answer can be. Its rest is read and dropped so that it
    // cannot answer the next question, and the answer is no.
    if (!has_line_feed && length == sizeof line - 1) {
        int c = getc(stdin);
        if (c != EOF) {
            while (c != EOF && c != '\n') {
                c = getc(stdin);
            }
            log_write("%s\n", line);
            return ANSWER_NO;
        }
    }

    log_write("%s", line);
    if (has_line_feed) {
        line[--length] = '\0';
    }
    // Only a line holding nothing but its line feed takes the default. A last
    // line cut off before its line feed is compared like any other.
    if (has_line_feed && length == 0) {
        return empty_answer;
    }
    if (IsOneOf(line, kYesWords, sizeof kYesWords / sizeof kYesWords[0])) {
        return ANSWER_YES;
    }
    if (IsOneOf(line, kQuitWords, sizeof kQuitWords / sizeof kQuitWords[0])) {
        return ANSWER_QUIT;
    }
    return ANSWER_NO;
}
