// The one fixture of the upgrade runs: the adapters a simulated server can
// hold, the catalogue records, the scenario a server is laid out from, and the
// fixture that lays it out, puts it back and runs lanrefit against it. The
// two-adapter silent upgrade of the writer-fault and interruption tests is one
// such layout; from the writes in effect before and after a run of it the
// fixture tells what that run logs, asks of the tool and leaves behind.
#pragma once

#include "sim_server.h"

#include <map>
#include <string>
#include <vector>

// ---------------------------------------------------------------------------
// The adapters a scenario can put into its server.

struct AdapterDef {
    char key;
    int handle;
    const char *desc;
    const char *mac;
    const char *nvram;
    const char *options; // simtool nvram, but --mac: "option value ..."
    // The backup name, with {bootcode} {preboot} {ump} for the texts at the run's start.
    const char *backup;
    const char *machine; // further words of its machine-file line
};

inline constexpr char kDescA[] = "Gigabit Server Adapter (port 1)";
inline constexpr char kDescB[] = "Gigabit Server Adapter (port 2)";
inline constexpr char kDescC[] = "Gigabit Server Adapter (port 3)";
inline constexpr char kMacA[] = "0A1B2C3D4E5F";
inline constexpr char kMacB[] = "0A1B2C3D4E60";
inline constexpr char kMacC[] = "0A1B2C3D4E61";
inline constexpr char kMacJ[] = "0A1B2C3D4E62";

// A (B the same model on port 2), C another model, J the jumper model (J has
// jumper=enable), K the jumper model with a PXE image and L the second jumper
// model (no jumper= line: writes take effect), S A's model whose library
// serves a MAC text of 6 characters. A scenario's lower-case key is
// the adapter with jumper=protect. Constant data, so that the rows of other
// tables can name an adapter by its key.
inline constexpr AdapterDef kAdapters[] = {
    {'A', 4097, kDescA, kMacA, "a.nvram",
     "--pci 1234-ABCD-5678-0001 --bootcode 5.0.3 --preboot 8.3.2 --ump 1.2.0 --entry 1:pxe",
     "0A1B2C3D4E5F.bc{bootcode}.p{preboot}.u{ump}.bin", ""},
    {'B', 4098, kDescB, kMacB, "b.nvram",
     "--pci 1234-ABCD-5678-0001 --bootcode 5.0.3 --preboot 8.3.2 --ump 1.2.0 --entry 1:pxe",
     "0A1B2C3D4E60.bc{bootcode}.p{preboot}.u{ump}.bin", ""},
    {'C', 4099, kDescC, kMacC, "c.nvram",
     "--pci 1234-ABCD-5678-0002 --bootcode 4.6.1 --preboot 2.5.1 --ump 1.1.9 --entry 1:clp",
     "0A1B2C3D4E61.bc{bootcode}.c{preboot}.u{ump}.bin", ""},
    {'J', 4100, "Jumper Server Adapter", kMacJ, "j.nvram",
     "--pci 1234-BEEF-5678-0011 --bootcode 5.0.3 --preboot 2.1.0 --ump 1.0.0 --entry 1:iscsi",
     "0A1B2C3D4E62.bc{bootcode}.u{ump}.iS{preboot}.bin", ""},
    {'K', 4101, "Jumper Server Adapter (PXE)", "0A1B2C3D4E63", "k.nvram",
     "--pci 1234-BEEF-5678-0011 --bootcode 5.0.3 --preboot 8.3.2 --ump 1.0.0 --entry 1:pxe",
     "0A1B2C3D4E63.bc{bootcode}.p{preboot}.u{ump}.bin", ""},
    {'L', 4102, "Jumper Server Adapter (model 2)", "0A1B2C3D4E64", "l.nvram",
     "--pci 1234-BEEF-5678-0012 --bootcode 5.0.3 --preboot 8.3.2 --ump 1.0.0 --entry 1:pxe",
     "0A1B2C3D4E64.bc{bootcode}.p{preboot}.u{ump}.bin", ""},
    {'S', 4103, "Short MAC Adapter", "0A1B2C3D4E65", "s.nvram",
     "--pci 1234-ABCD-5678-0001 --bootcode 5.0.3 --preboot 8.3.2 --ump 1.2.0 --entry 1:pxe",
     "0A1B2C.bc{bootcode}.p{preboot}.u{ump}.bin", "mactext=0A1B2C"},
};

const AdapterDef *FindAdapter(char key);
// The adapter whose MAC text begins a backup file name.
const AdapterDef *AdapterOfName(const std::string &name);
// The adapter's simtool nvram options, its MAC among them.
std::vector<std::string> OptionsOf(const AdapterDef &a);
// The value that follows OPTION among the adapter's simtool options.
std::string OptionOf(const AdapterDef &a, const std::string &option);

// Catalogue records: "<catalogue file below NIC_FW> <identity> <file> <version>";
// "Jumper.config <line>" adds a line to the site's list of jumper models.
inline constexpr char kBcA[] = "Boot_Code/BC.config 1234-ABCD-5678-0001 bc504.bin 5.0.4";
inline constexpr char kBcAOlder[] = "Boot_Code/BC.config 1234-ABCD-5678-0001 bc502.bin 5.0.2";
// The jumper check compares major and minor only: the minor changes here.
inline constexpr char kBcJ[] = "Boot_Code/BC.config 1234-BEEF-5678-0011 bcj510.bin 5.1.0";
inline constexpr char kBcJBuild[] = "Boot_Code/BC.config 1234-BEEF-5678-0011 bcj504.bin 5.0.4";
inline constexpr char kBcL[] = "Boot_Code/BC.config 1234-BEEF-5678-0012 bcl510.bin 5.1.0";
inline constexpr char kPxeA[] = "PXE/MFPXE.config 1234-ABCD-5678-0001 pxe833.bin 8.3.3";
inline constexpr char kPxeASame[] = "PXE/MFPXE.config 1234-ABCD-5678-0001 pxe832.bin 8.3.2";
// The PXE check compares the build too: only the build changes here.
inline constexpr char kPxeK[] = "PXE/MFPXE.config 1234-BEEF-5678-0011 pxek833.bin 8.3.3";
inline constexpr char kUmpAOlder[] = "UMP/UMP.config 1234-ABCD-5678-0001 ump110.bin 1.1.0";
inline constexpr char kUmpA[] = "UMP/UMP.config 1234-ABCD-5678-0001 ump130.bin 1.3.0";
inline constexpr char kUmpC[] = "UMP/UMP.config 1234-ABCD-5678-0002 ump120.bin 1.2.0";
inline constexpr char kUmpJ[] = "UMP/UMP.config 1234-BEEF-5678-0011 umpj110.bin 1.1.0";
inline constexpr char kClpA[] = "CLP/CLP.config 1234-ABCD-5678-0001 clp260.bin 2.6.0";
inline constexpr char kClpC[] = "CLP/CLP.config 1234-ABCD-5678-0002 clp260.bin 2.6.0";
inline constexpr char kIscsiA[] = "iSCSI/iSCSI.config 1234-ABCD-5678-0001 iscsi300.bin 3.0.0";
inline constexpr char kIscsiC[] = "iSCSI/iSCSI.config 1234-ABCD-5678-0002 iscsi300.bin 3.0.0";
inline constexpr char kIscsiJ[] = "iSCSI/iSCSI.config 1234-BEEF-5678-0011 iscsi220.bin 2.2.0";
// Lines of the site's list of jumper models, NIC_FW\Jumper.config: adapter A's
// model between two words of a note.
inline constexpr char kJumperListA[] = "Jumper.config models: 1234-ABCD-5678-0001 (rack 4)";
inline constexpr char kStubA[] = "iSCSI/iSCSI_stub.config 1234-ABCD-5678-0001 stub100.bin 1.0.0";

inline constexpr char kStars[] =
    "*******************************************************************\r\n";
inline constexpr char kTitle[] =
    "Velmar Multi-Function Gigabit Server Adapter Firmware Upgrade Utility\r\n";

std::string Replace(std::string text, const std::string &from, const std::string &to);

// ---------------------------------------------------------------------------
// A scenario: the server, its catalogue and files, the run, and what the
// operator sees, as a list of events: each goes to the console, the log, or
// both, the way the run prints it. CHILD is a start of the tool: its line to
// both, then the log is closed before the tool starts (an empty line in it).

struct Event {
    enum Where { BOTH, CONSOLE, LOG, ASK, CHILD } where;
    std::string text;
    std::string answer; // ASK: the line the operator typed (it reaches the log only)
};

// A file in the backup directory before the run: an adapter's image with
// other versions, the image with another identity, a text, a directory, or a
// symbolic link to an adapter's image that lies elsewhere.
struct SavedImage {
    const char *name;
    char adapter;
    const char *bootcode, *preboot;
    enum Kind { IMAGE, OTHER_IDENTITY, TEXT, DIRECTORY, LINK, FOREIGN } kind; // FOREIGN: an
    // adapter's image owned by another user (uid 12345)
};

struct NvramAfter {
    char adapter;
    const char *bootcode, *preboot, *ump; // the version texts afterwards
};

struct Scenario {
    const char *name;
    const char *adapters; // keys of kAdapters; lower case: with jumper=protect
    std::vector<std::string> catalogue;
    std::vector<std::string> args;
    std::string input;
    std::vector<Event> events; // after the banner
    int exit_code;
    // The tool's command lines, "MAC verb image backup-name" ({B} is the backup
    // directory as the tool receives it); one per start of the tool. One that
    // ends in " => outcome" is compared with the tool's outcome too.
    std::vector<std::string> commands = {};
    std::vector<NvramAfter> nvram = {}; // adapters whose NVRAM changed
    std::vector<SavedImage> saved = {}; // in the backup directory before the run
    std::string writer_fault = "";      // IMGWRITER_FAULT; "absent" leaves the tool out
    // Trouble with the work files: "log-dir-is-file", "log-is-directory",
    // "log-read-only" (none can be opened), "log-removed" (the tool removes the log at its first
    // start), "backups-is-file" (the backup directory cannot be listed), "log-link" (the log a
    // link to a root-only file), "log-foreign" (a log owned by another user), "no-catalogue"
    // (no NIC_FW folder), "swap-at-tool" (a sticky system drive where another user tries to
    // move VLMSYSTEM aside at the tool's first start).
    std::string trouble = "";
    std::string library_fault = ""; // OMBRI_SIM_FAULTS; with exit= the run ends unclosed
    std::string err = "";           // lines standard error holds (-debug); else it stays empty
    const char *library = "7.6.1";  // the library's version
};

// Test names carry the scenario's name; its value prints as that name too.
void PrintTo(const Scenario &s, std::ostream *os);
// ---------------------------------------------------------------------------
// The silent two-adapter upgrade: A without and J with the write-protect
// jumper (in the enable position), and three writes: A's boot code, A's PXE,
// J's boot code.

// One write of the run, in the order the run makes it.
struct PlannedWrite {
    char adapter;       // a key of kAdapters
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

// The silent upgrade's layout, with EXTRA_BC_RECORDS more boot code records
// for adapter A after its first.
Scenario SilentUpgrade(int extra_bc_records = 0);

// The beginning of the log of every run: the banner.
std::string BannerLog();
// "<description> MAC: <mac>" of adapter KEY, as the run names it.
std::string Named(char key);
// "\r\nFound <description> MAC: <mac> \r\n" of adapter KEY.
std::string FoundLine(char key);
// The backup name (without directory) of adapter KEY in a run that found the
// writes of DONE in effect.
std::string BackupName(char key, unsigned done);

// What a silent run writes to the log and its exit code.
struct ExpectedRun {
    std::string log;
    int exit_code;
};

// ---------------------------------------------------------------------------
// The fixture.

class UpgradeServerTest : public SimE2eTest {
  protected:
    // Lays out the scenario's server, catalogue and writer tool in the work
    // directory, keeping a copy of every NVRAM image as it was before.
    void Layout(const Scenario &s);
    // Puts the scenario's files into the backup directory.
    void SaveImages(const Scenario &s);
    // The texts that depend on the target: {B} the backup directory as the
    // tool receives it, {P} as the program prints it, {p} the same in lower case.
    std::string Fill(const std::string &text) const;
    // Puts the NVRAM images back as they were and empties the system drive
    // and the journal, for another run on the same layout.
    void Restore();

    std::string Journal() const { return ServerDir() + "/journal.log"; }
    // The environment of a run: server, library faults, journal, IMGWRITER_FAULT.
    std::vector<std::string> Env(const std::string &writer_fault,
                                 const std::string &library_faults = "") const;
    RunResult RunScenario(const Scenario &s, const std::string &library_faults = "");
    // The laid-out scenario run with IMGWRITER_FAULT=WRITER_FAULT.
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

    std::string NvramPath(char key) const;
    // What simtool show prints of the NVRAM image at PATH.
    RunResult ShowNvram(const std::string &path) const;
    // The bytes of adapter KEY's NVRAM image with the writes of DONE in effect.
    std::string ImageWith(char key, unsigned done) const;
    // The laid-out adapters' NVRAM images hold exactly the writes of DONE.
    ::testing::AssertionResult NvramHolds(unsigned done) const;
    // The backup directory holds exactly the files of BACKUPS (name, bytes).
    ::testing::AssertionResult BackupsAre(const std::map<std::string, std::string> &backups) const;

    SimServer server_;
    std::vector<const AdapterDef *> used_;
    Scenario current_;
    std::map<std::string, std::string> saved_bytes_; // the saved images as laid out
};
