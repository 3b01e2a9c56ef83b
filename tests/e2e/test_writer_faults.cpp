// The writer tool failing at each of its starts in turn, in every way it can,
// during the two-adapter silent upgrade. The run judges only whether the tool
// started and left the adapter's backup, so every way but a missing tool or a
// missing backup leaves the log of a clean run, save that the jumper adapter's
// read-back tells when its write did not happen.
// Each run is checked for its console, log bytes, exit code, the tool's
// journal, the NVRAM images (whole: the old image or the expected new one),
// the backups and the library closed. Under Wine the first and last start.
#include "upgrade_fixture.h"

#include <cstdio>

namespace {

struct WriterFault {
    const char *name;
    const char *action;  // IMGWRITER_FAULT without at=; null: no tool to start at all
    bool writes;         // the NVRAM image changes at the failing start
    bool saves_backup;   // the backup is saved at the failing start
    const char *outcome; // the failing start's journal outcome
};

const WriterFault kFaults[] = {
    {"Missing", nullptr, false, false, ""},
    {"ExitCode", "exit=7", true, true, "written, exit 7"},
    {"CrashBeforeWrite", "crash=before", false, true, "crashed before write"},
    {"CrashAfterWrite", "crash=after", true, true, "crashed after write"},
    {"Refuses", "refuse", false, true, "refused: injected"},
    {"CannotSaveBackup", "nobackup", false, false, "backup: cannot save the backup (injected)"},
};

// The row's name where a test name shows the parameter.
void PrintTo(const WriterFault &row, std::ostream *os) {
    *os << row.name;
}

class WriterFaultTest : public UpgradeServerTest,
                        public ::testing::WithParamInterface<WriterFault> {};

TEST_P(WriterFaultTest, AtEachStartInTurn) {
    const WriterFault &f = GetParam();
    Layout(SilentUpgrade());
    ASSERT_FALSE(HasFailure());
    std::vector<int> starts; // the failing start; 0: the tool is missing for every start
    if (f.action == nullptr) {
        starts = {0};
    } else if (IsWindowsTarget()) {
        starts = {1, kWriteCount};
    } else {
        for (int k = 1; k <= kWriteCount; k++) {
            starts.push_back(k);
        }
    }
    for (int k : starts) {
        SCOPED_TRACE(std::string(f.name) + " at start " + std::to_string(k));
        Restore();
        std::string fault;
        if (f.action == nullptr) {
            std::remove((work_ + "/imgwriter").c_str());
            std::remove((work_ + "/imgwriter.exe").c_str());
        } else {
            fault = std::string(f.action) + " at=" + std::to_string(k);
        }
        RunResult r = RunSilent(fault);

        unsigned effective = f.action == nullptr ? 0u : kAllWrites;
        if (k != 0 && !f.writes) {
            effective &= ~(1u << (k - 1));
        }
        // A start that saves no backup fails when no earlier start of the
        // same adapter saved one.
        unsigned no_backup = 0;
        if (k != 0 && !f.saves_backup) {
            no_backup = 1u << (k - 1);
            for (int w = 0; w + 1 < k; w++) {
                no_backup =
                    kPlannedWrites[w].adapter == kPlannedWrites[k - 1].adapter ? 0 : no_backup;
            }
        }
        ExpectedRun e = Expected(0, effective, f.action == nullptr, 0, no_backup);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(ReadFileText(LogFileOf(work_)), e.log);
        EXPECT_EQ(r.exit_code, e.exit_code);
        EXPECT_TRUE(LibraryClosed(calls_));

        // Every start asked for every write, and each adapter's backup is the
        // image from before, saved by the first of its starts that got so far.
        std::string journal;
        std::map<std::string, std::string> backups;
        for (int w = 0; w < kWriteCount && f.action != nullptr; w++) {
            bool failing = w + 1 == k;
            journal += Command(w, 0) + " => " + (failing ? f.outcome : "written") + "\n";
            char key = kPlannedWrites[w].adapter;
            if (!failing || f.saves_backup) {
                backups[BackupName(key, 0)] = ImageWith(key, 0);
            }
        }
        EXPECT_EQ(ReadFileText(Journal()), journal);
        EXPECT_TRUE(NvramHolds(effective));
        EXPECT_TRUE(BackupsAre(backups));
    }
}

INSTANTIATE_TEST_SUITE_P(Runs, WriterFaultTest, ::testing::ValuesIn(kFaults), RowName<WriterFault>);

} // namespace
