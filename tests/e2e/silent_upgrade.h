// The silent upgrade that the writer-fault and interruption tests start from:
// two adapters, A without and J with the write-protect jumper (in the enable
// position), and three writes: A's boot code, A's PXE, J's boot code. From a
// set of writes in effect before and after a run it tells what that run logs,
// asks of the tool and leaves in the NVRAM images and the backup directory.
#pragma once

#include "sim_server.h"

#include <map>
#include <string>
#include <vector>

// One write of the run, in the order the run makes it.
struct PlannedWrite {
    char adapter;       // 'A' or 'J'
    const char *verb;   // the tool's verb
    const char *image;  // below NIC_FW
    const char *word;   // the component's word in warnings
    const char *line;   // the version line after "Upgrading "
    const char *option; // the simtool option of the version text it changes
    const char *text;   // the text it writes there
};

constexpr int kWriteCount = 3;
extern const PlannedWrite kPlannedWrites[kWriteCount];

// A set of writes: bit i stands for kPlannedWrites[i].
constexpr unsigned kAllWrites = (1u << kWriteCount) - 1;

// The beginning of the log of every run: the banner.
std::string BannerLog();
// "\r\nFound <description> MAC: <mac> \r\n" of adapter KEY.
std::string FoundLine(char key);

// What a silent run writes to the log and its exit code.
struct ExpectedRun {
    std::string log;
    int exit_code;
};

class SilentUpgradeTest : public SimE2eTest {
  protected:
    // The server, the catalogue (with EXTRA_BC_RECORDS more boot code records
    // for adapter A after its first), the writer tool; keeps the NVRAM images
    // as they were before.
    void LayOut(int extra_bc_records = 0);
    // Back to the images from before, no journal, an empty system drive.
    void Restore();

    std::string Journal() const { return ServerDir() + "/journal.log"; }
    // The environment of a run: server, journal, IMGWRITER_FAULT.
    std::vector<std::string> Env(const std::string &writer_fault) const;
    RunResult RunSilent(const std::string &writer_fault);

    // The silent run that finds the writes of DONE already in effect, so
    // starts the others; EFFECTIVE are the writes in effect when it ends (its
    // jumper check reads them back). TOOL_ABSENT: no tool to start. STOP_AFTER
    // > 0: the log as it stands when the run is stopped while its
    // STOP_AFTER-th start of the tool runs (or right after it). NO_BACKUP: the
    // writes whose start left no backup of the adapter (a failed write).
    ExpectedRun Expected(unsigned done, unsigned effective, bool tool_absent = false,
                         int stop_after = 0, unsigned no_backup = 0) const;
    // The journal's command part for write W in a run that found DONE in effect.
    std::string Command(int w, unsigned done) const;
    // The backup name (without directory) of adapter KEY in such a run.
    std::string BackupName(char key, unsigned done) const;

    std::string NvramPath(char key) const;
    // The bytes of adapter KEY's NVRAM image with the writes of DONE in effect.
    std::string ImageWith(char key, unsigned done) const;
    // Both NVRAM images hold exactly the writes of DONE.
    ::testing::AssertionResult NvramHolds(unsigned done) const;
    // The backup directory holds exactly the files of BACKUPS (name, bytes).
    ::testing::AssertionResult BackupsAre(const std::map<std::string, std::string> &backups) const;

    SimServer server_;
};
