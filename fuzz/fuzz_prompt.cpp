// Fuzz target: arbitrary bytes as the operator's answers to a run of questions.
// Every answer must be one of the three codes, and each question reads at most
// one line, however long.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "scratch.h"
#include "output/output.h"
#include "run/runflags.h"
#include "select/plan.h"
#include "select/prompt.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static bool quiet = freopen("/dev/null", "w", stdout) != nullptr;
    (void)quiet;
    EnterScratchDirectory();
    FILE *f = fopen("answers", "wb");
    fwrite(data, 1, size, f);
    fclose(f);
    if (freopen("answers", "rb", stdin) == nullptr) {
        abort();
    }
    RunFlags = 0;
    size_t lines = 0;
    for (size_t i = 0; i < size; ++i) {
        lines += data[i] == '\n' ? 1 : 0;
    }
    // One question more than there are lines: the last meets the end of input.
    for (size_t q = 0; q <= lines + 1 && q < 64; ++q) {
        int answer = PromptYesNoQuit("Update PXE 1.2.3 to 1.2.4 - ", ANSWER_YES, ANSWER_YES,
                                     q % 2 == 0 ? ANSWER_YES : ANSWER_NO, q % 2 == 0 ? "y" : "n");
        if (answer != ANSWER_YES && answer != ANSWER_NO && answer != ANSWER_QUIT) {
            abort();
        }
    }
    return 0;
}
