// The operator's yes/no/quit question: the one place that reads standard input.
#pragma once

// Asks question (which ends in a blank) with default_shown ("y" or "n") and
// returns ANSWER_YES, ANSWER_NO or ANSWER_QUIT. A silent run answers
// silent_answer, or forced_answer with RUN_FORCE, without printing or reading.
// An empty line gives empty_answer; end of input gives ANSWER_NO.
int PromptYesNoQuit(const char *question, int silent_answer, int forced_answer, int empty_answer,
                    const char *default_shown);
