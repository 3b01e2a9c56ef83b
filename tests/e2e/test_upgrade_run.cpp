// The upgrade run of the real program against simulated servers that change
// when the simulated writer tool writes them: one table of scenarios, each
// checking the console and log bytes, the exit code, the tool's command lines
// (its journal), the NVRAM afterwards and the backups it saved.
#include "upgrade_fixture.h"

#include <algorithm>
#include <map>
#include <unistd.h>

namespace {

// ---------------------------------------------------------------------------
// What the operator sees, as events (see Event): each goes to the console, the
// log, or both, the way the run prints it.

Event O(const std::string &t) {
    return {Event::BOTH, t, ""};
}
Event Con(const std::string &t) {
    return {Event::CONSOLE, t, ""};
}
Event L(const std::string &t) {
    return {Event::LOG, t, ""};
}
// A question "Update <what> - " with its default and the answer given.
Event Ask(const std::string &what, const char *def, const std::string &answer) {
    return {Event::ASK, "Update " + what + " -  y/n/q (" + def + "):", answer};
}

const char kNoticeBc[] =
    "\r\nThe Firmware Upgrade will take several minutes.  Please be patient.\r\n";
const char kNoticeWill[] =
    "\r\nThe Firmware Upgrade will take several minutes.  Please be patient\n";
const char kNoticeMay[] = "\r\nThe Firmware Upgrade may take several minutes.  Please be patient\n";
const char kComplete[] = "\nNIC firmware update complete.\r\n";
const char kErrors[] = "\nNIC firmware update completed with errors. \r\n";
const char kCancelled[] = "\r\nFirmware upgrade cancelled by User \r\n";

// Adapter KEY of kAdapters found, and selected for its writes.
Event Found(char key) {
    return O(FoundLine(key));
}
Event Selecting(char key) {
    return O("\r\nSelecting " + Named(key) + " \r\n");
}
// A start of the tool: its line, then the log closed before the tool starts.
Event Upgrading(const std::string &what) {
    return {Event::CHILD, "Upgrading " + what + "\r\n", ""};
}
Event Warn(const std::string &text) {
    return O("** WARNING ** - " + text + "\r\n");
}
// The two log-only lines of an older UMP image.
Event UmpOlder() {
    return L("** WARNING ** - Installed UMP is more recent than selected UMP.\r\n"
             "** WARNING ** - Installation of an older UMP version is not allowed.\r\n");
}

// ---------------------------------------------------------------------------
// The scenarios.

// Adapter A's backup name taken already: the run saves beside it.
const char kBackupAName[] = "0A1B2C3D4E5F.bc5.0.3.p8.3.2.u1.2.0.bin";
const char kBackupA2[] = "{B}0A1B2C3D4E5F.bc5.0.3.p8.3.2.u1.2.0.2.bin";

// The backup of adapter KEY's image as the run found it; BACKUP when given.
std::string BackupOf(char key, const char *backup) {
    return backup != nullptr ? backup : "{B}" + BackupName(key, 0);
}
// A write of IMAGE (below NIC_FW) on adapter KEY.
std::string Cmd(char key, const std::string &verb, const std::string &image,
                const char *backup = nullptr) {
    return std::string(FindAdapter(key)->mac) + " " + verb + " ./NIC_FW/" + image + " " +
           BackupOf(key, backup);
}
// A restore: the saved image {B}NAME written back, the image before saved first.
std::string RestoreCmd(char key, const std::string &name, const char *backup = nullptr) {
    return std::string(FindAdapter(key)->mac) + " restore {B}" + name + " " + BackupOf(key, backup);
}
Event AskRestore(const std::string &what, const char *def, const std::string &answer) {
    return {Event::ASK, "Restore " + what + " -  y/n/q (" + def + "):", answer};
}
const char kNoticeRestore[] =
    "\r\nThe Firmware Restore will take several minutes.  Please be patient.\r\n";
const char kSameFirmware[] =
    "** WARNING ** - Installed firmware is the same version as selected firmware.\r\n";
const char kNewerFirmware[] =
    "** WARNING ** - Installed firmware is more recent than selected firmware.\r\n";
const char kReminder[] =
    "** WARNING ** Replace the adapter jumper (J1) to the Write Protect position\r\n";
// Saved images; {P} is the backup directory as the program prints it.
const char kSavedA[] = "0A1B2C3D4E5F.bc5.0.2.p8.3.1.u1.2.0.bin";
const char kSavedACopy[] = "0A1B2C3D4E5F.bc5.0.3 - Copy.bin";
const char kSavedAOlder[] = "0A1B2C3D4E5F.bc4.9.0.p8.2.0.bin";
const char kSavedANewer[] = "0A1B2C3D4E5F.bc5.1.0.p8.3.2.u1.2.0.bin";
const char kSavedB[] = "0A1B2C3D4E60.bc5.0.1.p8.3.0.bin";
const char kSavedC[] = "0A1B2C3D4E61.bc4.6.1.c2.6.0.bin";
const char kSavedJ48[] = "0A1B2C3D4E62.bc4.8.0.u1.0.0.iS2.1.0.bin";
const char kSavedJ49[] = "0A1B2C3D4E62.bc4.9.0.u1.0.0.iS2.1.0.bin";
const SavedImage kImageA = {kSavedA, 'A', "5.0.2", "8.3.1", SavedImage::IMAGE};
const SavedImage kImageAOlder = {kSavedAOlder, 'A', "4.9.0", "8.2.0", SavedImage::IMAGE};
const SavedImage kBackupAImage = {kBackupAName, 'A', "5.0.3", "8.3.2", SavedImage::IMAGE};
const SavedImage kHidden = {".hidden.bin", 'A', "5.0.1", "8.3.1", SavedImage::IMAGE};
const SavedImage kSubdirectory = {"sub", 0, "", "", SavedImage::DIRECTORY};
Event Restoring(const std::string &name) {
    return {Event::CHILD, "Restoring {P}" + name + "\r\n", ""};
}

const char kJumperError[] = "*** ERROR *** Firmware upgrade failed!\r\n";
const char kJumperEnable[] = "Verify adapter jumper (J1) is in the write enable position\r\n";
const char kJumperEnableCaps[] = "Verify adapter jumper (J1) is in the Write Enable position\r\n";
// The read-back's line of a component that did not take.
Event VerifyFailed(const std::string &component, const std::string &is, const std::string &want) {
    return O("Verify failed: " + component + " is " + is + ", expected " + want + "\r\n");
}
const char kNotRead[] = "Verify failed: the installed firmware could not be read\r\n";
// Before the question of a restore on a jumper adapter.
const char kJumperWarnings[] =
    "** WARNING ** This adapter is equipped with a write protect jumper (J1).\r\n"
    "Insure the jumper has been moved to the write enable position.\r\n";

// A row of the table: the columns of Scenario, in its order, the later ones
// defaulted.
Scenario Row(const char *name, const char *adapters, std::vector<std::string> catalogue,
             std::vector<std::string> args, std::string input, std::vector<Event> events,
             int exit_code, std::vector<std::string> commands = {},
             std::vector<NvramAfter> nvram = {}, std::vector<SavedImage> saved = {},
             std::string writer_fault = "", std::string trouble = "",
             std::string library_fault = "", std::string err = "", const char *library = "7.6.1") {
    return {name,  adapters, catalogue,    args,    input,         events, exit_code, commands,
            nvram, saved,    writer_fault, trouble, library_fault, err,    library};
}

const Scenario kScenarios[] = {
    Row("InteractiveAcceptAll", "A", {kBcA, kPxeASame, kUmpAOlder}, {}, "y\ny\n",
        {Found('A'), Ask("Boot Code 5.0.3 to 5.0.4", "y", "y\n"),
         Warn("Installed PXE is the same version as selected PXE."),
         Ask("PXE 8.3.2 to 8.3.2", "n", "y\n"), UmpOlder(), Con(kNoticeBc), Selecting('A'),
         Upgrading("Boot Code 5.0.3 to 5.0.4"), Upgrading("PXE 8.3.2 to 8.3.2"), O(kComplete)},
        1,
        {Cmd('A', "upgrade -bc", "Boot_Code/bc504.bin"),
         Cmd('A', "upgrade -mba", "PXE/pxe832.bin")},
        {{'A', "5.0.4", "8.3.2", "1.2.0"}}),
    Row("InteractiveDeclineAll", "A", {kBcA, kPxeASame}, {}, "n\nn\n",
        {Found('A'), Ask("Boot Code 5.0.3 to 5.0.4", "y", "n\n"),
         Warn("Installed PXE is the same version as selected PXE."),
         Ask("PXE 8.3.2 to 8.3.2", "n", "n\n")},
        3),
    Row("QuitAtBootCodeEndsTheRun", "AB", {kBcA, kPxeA}, {}, "q\n",
        {Found('A'), Ask("Boot Code 5.0.3 to 5.0.4", "y", "q\n"), O(kCancelled)}, 1),
    // The quit at CLP clears the adapter's plan; its UMP and iSCSI are still
    // asked, then the run ends before the next adapter.
    Row("QuitAtClpAsksTheRestOfTheAdapter", "CA", {kClpC, kUmpC, kIscsiC, kBcA}, {}, "q\ny\nn\n",
        {Found('C'), Ask("CLP 2.5.1 to 2.6.0", "y", "q\n"), Ask("UMP 1.1.9 to 1.2.0", "y", "y\n"),
         Ask("iSCSI 0.0.0 to 3.0.0", "y", "n\n"), O(kCancelled)},
        1),
    Row("SilentWritesOnlyNewer", "A", {kBcA, kPxeASame, kUmpAOlder}, {"-s"}, "",
        {Found('A'), Warn("Installed PXE is the same version as selected PXE."), UmpOlder(),
         Selecting('A'), Upgrading("Boot Code 5.0.3 to 5.0.4"), O(kComplete)},
        1, {Cmd('A', "upgrade -bc", "Boot_Code/bc504.bin")}, {{'A', "5.0.4", "8.3.2", "1.2.0"}}),
    // Forced: a downgrade and the same version are written, an older UMP never.
    Row("SilentForcedNeverAnOlderUmp", "A", {kBcAOlder, kPxeASame, kUmpAOlder}, {"-s", "-f"}, "",
        {Found('A'), Warn("Installed Boot Code is more recent than selected Boot Code."),
         Warn("Installed PXE is the same version as selected PXE."), UmpOlder(), Selecting('A'),
         Upgrading("Boot Code 5.0.3 to 5.0.2"), Upgrading("PXE 8.3.2 to 8.3.2"), O(kErrors)},
        0,
        {Cmd('A', "upgrade -bc", "Boot_Code/bc502.bin"),
         Cmd('A', "upgrade -mba", "PXE/pxe832.bin")},
        {{'A', "5.0.2", "8.3.2", "1.2.0"}}),
    Row("AdviseNewer", "A", {kBcA, kPxeASame}, {"-N"}, "",
        {Found('A'), O("\nNIC firmware update is recommended.\r\n")}, 4),
    Row("AdviseSame", "A", {kPxeASame}, {"-N"}, "",
        {Found('A'), O("\nNIC firmware update is not recommended.\r\n")}, 5),
    Row("AdviseOlder", "A", {kBcAOlder, kPxeASame}, {"-N"}, "",
        {Found('A'), O("\nNIC firmware update is not recommended.\r\n")}, 6),
    Row("AdviseNothingToCompare", "A", {}, {"-N"}, "", {Found('A')}, 3),
    Row("ListPlan", "AC", {kBcA, kPxeASame, kClpC}, {"-l"}, "",
        {O("0 0A1B2C3D4E5F 1234-ABCD-5678-0001 5 0 4 8 3 2 - - - - - - - - - - - -  " +
           std::string(kDescA) + " \n"),
         O("1 0A1B2C3D4E61 1234-ABCD-5678-0002 - - - - - - - - - 2 6 0 - - - - - -  " +
           std::string(kDescC) + " \n")},
        1),
    Row("SilentListReachesTheLogOnly", "A", {kBcA}, {"-s", "-l"}, "",
        {O("0 0A1B2C3D4E5F 1234-ABCD-5678-0001 5 0 4 - - - - - - - - - - - - - - -  " +
           std::string(kDescA) + " \n")},
        1),
    Row("BootCodeOptionOnOneAdapter", "AB", {kBcA, kPxeA}, {"-o", kMacB}, "\n",
        {Found('B'), Ask("Boot Code 5.0.3 to 5.0.4", "y", "\n"), Con(kNoticeBc), Selecting('B'),
         Upgrading("Boot Code 5.0.3 to 5.0.4"), O(kComplete)},
        1, {Cmd('B', "upgrade -bc", "Boot_Code/bc504.bin")}, {{'B', "5.0.4", "8.3.2", "1.2.0"}}),
    Row("BootCodeAndPxeOptionsShareOneMac", "AB", {kBcA, kPxeA, kUmpA}, {"-o", "-x", kMacB}, "\n\n",
        {Found('B'), Ask("Boot Code 5.0.3 to 5.0.4", "y", "\n"),
         Ask("PXE 8.3.2 to 8.3.3", "y", "\n"), Con(kNoticeBc), Selecting('B'),
         Upgrading("Boot Code 5.0.3 to 5.0.4"), Upgrading("PXE 8.3.2 to 8.3.3"), O(kComplete)},
        1,
        {Cmd('B', "upgrade -bc", "Boot_Code/bc504.bin"),
         Cmd('B', "upgrade -mba", "PXE/pxe833.bin")},
        {{'B', "5.0.4", "8.3.3", "1.2.0"}}),
    // A MAC one character longer than the adapter's differs at its end.
    Row("LongerMacMatchesNothing", "AB", {kBcA, kPxeA}, {"-o", "0A1B2C3D4E600"}, "\n", {}, 3),
    Row("LowerCaseMacMatchesNothing", "AB", {kBcA, kPxeA}, {"-o", "0a1b2c3d4e60"}, "\n", {}, 3),
    Row("PxeOptionPrintsItsOwnHeader", "A", {kBcA, kPxeA}, {"-x", kMacA}, "\n",
        {Found('A'), Ask("PXE 8.3.2 to 8.3.3", "y", "\n"), Con(kNoticeWill), Selecting('A'),
         Upgrading("PXE 8.3.2 to 8.3.3"), O(kComplete)},
        1, {Cmd('A', "upgrade -mba", "PXE/pxe833.bin")}, {{'A', "5.0.3", "8.3.3", "1.2.0"}}),
    Row("UmpOption", "A", {kUmpA}, {"-u", kMacA}, "y\n",
        {Found('A'), Ask("UMP 1.2.0 to 1.3.0", "y", "y\n"), Con(kNoticeWill), Selecting('A'),
         Upgrading("UMP 1.2.0 to 1.3.0"), O(kComplete)},
        1, {Cmd('A', "upgrade -ump", "UMP/ump130.bin")}, {{'A', "5.0.3", "8.3.2", "1.3.0"}}),
    Row("ClpOptionOverAnInstalledClp", "C", {kClpC}, {"-b", kMacC}, "\n",
        {Found('C'), Ask("CLP 2.5.1 to 2.6.0", "y", "\n"), Con(kNoticeMay), Selecting('C'),
         Upgrading("CLP 2.5.1 to 2.6.0"), O(kComplete)},
        1, {Cmd('C', "upgrade -mba", "CLP/clp260.bin")}, {{'C', "4.6.1", "2.6.0", "1.1.9"}}),
    Row("ClpOptionWithoutAnInstalledClpForces", "A", {kClpA}, {"-b", kMacA}, "\n",
        {Found('A'), Ask("CLP 0.0.0 to 2.6.0", "y", "\n"), Con(kNoticeMay), Selecting('A'),
         Upgrading("CLP 0.0.0 to 2.6.0"), O(kComplete)},
        1, {Cmd('A', "upgrade -F -mba", "CLP/clp260.bin")}, {{'A', "5.0.3", "2.6.0", "1.2.0"}}),
    Row("IscsiOption", "A", {kIscsiA}, {"-d", kMacA}, "\n",
        {Found('A'), Ask("iSCSI 0.0.0 to 3.0.0", "y", "\n"), Con(kNoticeWill), Selecting('A'),
         Upgrading("iSCSI 0.0.0 to 3.0.0"), O(kComplete)},
        1, {Cmd('A', "upgrade -F -mba", "iSCSI/iscsi300.bin")}, {{'A', "5.0.3", "3.0.0", "1.2.0"}}),
    Row("IscsiStubOption", "A", {kStubA}, {"-g", kMacA}, "\n",
        {Found('A'), Ask("iSCSI 0.0.0 to 1.0.0", "y", "\n"), Con(kNoticeWill), Selecting('A'),
         Upgrading("iSCSI 0.0.0 to 1.0.0"), O(kComplete)},
        1, {Cmd('A', "upgrade -F -mba", "iSCSI/stub100.bin")}, {{'A', "5.0.3", "1.0.0", "1.2.0"}}),
    // The tool cannot be started: both error lines, and the summary reports it.
    Row("WriterAbsent", "A", {kBcA}, {}, "\n",
        {Found('A'), Ask("Boot Code 5.0.3 to 5.0.4", "y", "\n"), Con(kNoticeBc), Selecting('A'),
         Upgrading("Boot Code 5.0.3 to 5.0.4"),
         L("ERROR: Upgrade of Gigabit Server Adapter (port 1) MAC: 0A1B2C3D4E5F cmd:(.\\imgwriter  "
           "0A1B2C3D4E5F upgrade -bc ./NIC_FW/Boot_Code/bc504.bin "
           "{B}0A1B2C3D4E5F.bc5.0.3.p8.3.2.u1.2.0.bin) failed with internal error 14\r\n"),
         Con("ERROR: Upgrade of Gigabit Server Adapter (port 1) MAC: 0A1B2C3D4E5F failed.\r\n"),
         O(kErrors)},
        0, {}, {}, {}, "absent"),
    // A path with a double quote is never passed: the write could not start.
    Row("WriterNeverGetsAPathWithAQuote", "A",
        {"Boot_Code/BC.config 1234-ABCD-5678-0001 bc\"504.bin 5.0.4"}, {"-s"}, "",
        {Found('A'), Selecting('A'), Upgrading("Boot Code 5.0.3 to 5.0.4"),
         L("ERROR: Upgrade of Gigabit Server Adapter (port 1) MAC: 0A1B2C3D4E5F cmd:(.\\imgwriter) "
           "failed with internal error 14\r\n"),
         O(kErrors)},
        0),
    // A MAC text shorter than 12 characters: the error lines keep their width
    // of 8, the others of 12, and the backup name its 12 (so it is quoted).
    // The tool finds no adapter by that text and saves nothing, as "nobackup".
    Row("ShortMacTextInTheErrorLines", "S", {kBcA}, {}, "\n",
        {O("\r\nFound Short MAC Adapter MAC: 0A1B2C       \r\n"),
         Ask("Boot Code 5.0.3 to 5.0.4", "y", "\n"), Con(kNoticeBc),
         O("\r\nSelecting Short MAC Adapter MAC: 0A1B2C       \r\n"),
         Upgrading("Boot Code 5.0.3 to 5.0.4"),
         L("ERROR: Upgrade of Short MAC Adapter MAC: 0A1B2C   cmd:(.\\imgwriter  0A1B2C       "
           "upgrade -bc ./NIC_FW/Boot_Code/bc504.bin \"{B}0A1B2C      "
           ".bc5.0.3.p8.3.2.u1.2.0.bin\") "
           "failed with internal error 15\r\n"),
         Con("ERROR: Upgrade of Short MAC Adapter MAC: 0A1B2C   failed.\r\n"), O(kErrors)},
        0,
        {"0A1B2C upgrade -bc ./NIC_FW/Boot_Code/bc504.bin {B}0A1B2C      "
         ".bc5.0.3.p8.3.2.u1.2.0.bin"},
        {}, {}, "nobackup"),
    // The debug lines of a write name the command line also when it could
    // not be built.
    Row("DebugLinesOfACommandLineNotBuilt", "A",
        {"Boot_Code/BC.config 1234-ABCD-5678-0001 bc\"504.bin 5.0.4"}, {"-debug"}, "\n",
        {Found('A'), Ask("Boot Code 5.0.3 to 5.0.4", "y", "\n"), Con(kNoticeBc), Selecting('A'),
         Upgrading("Boot Code 5.0.3 to 5.0.4"),
         L("ERROR: Upgrade of Gigabit Server Adapter (port 1) MAC: 0A1B2C3D4E5F cmd:(.\\imgwriter) "
           "failed with internal error 14\r\n"),
         Con("ERROR: Upgrade of Gigabit Server Adapter (port 1) MAC: 0A1B2C3D4E5F failed.\r\n"),
         O(kErrors)},
        0, {}, {}, {}, "", "", "", ".\\imgwriter \r\nexit code (.\\imgwriter): e \r\n"),
    // Records whose file name leaves NIC_FW (a ".." part, a root, a drive) are
    // passed over like records of another adapter; the next one is offered.
    Row("RecordsLeavingTheCatalogueAreSkipped", "A",
        {"Boot_Code/BC.config 1234-ABCD-5678-0001 ../../evil.bin 5.0.5",
         "Boot_Code/BC.config 1234-ABCD-5678-0001 /evil.bin 5.0.5",
         "Boot_Code/BC.config 1234-ABCD-5678-0001 C:evil.bin 5.0.5", kBcA},
        {"-debug"}, "\n",
        {Found('A'), Ask("Boot Code 5.0.3 to 5.0.4", "y", "\n"), Con(kNoticeBc), Selecting('A'),
         Upgrading("Boot Code 5.0.3 to 5.0.4"), O(kComplete)},
        1, {"-debug " + Cmd('A', "upgrade -bc", "Boot_Code/bc504.bin")},
        {{'A', "5.0.4", "8.3.2", "1.2.0"}}, {}, "", "", "",
        "catalogue record ../../evil.bin leaves NIC_FW: skipped\r\n"),
    // A log planted as a link, or owned by another user, is never written: it
    // counts as a log that cannot be opened.
    Row("LogThatIsALinkIsLeftOut", "A", {kBcA}, {"-s"}, "",
        {Found('A'), Selecting('A'), Upgrading("Boot Code 5.0.3 to 5.0.4"), O(kComplete)}, 1,
        {Cmd('A', "upgrade -bc", "Boot_Code/bc504.bin")}, {{'A', "5.0.4", "8.3.2", "1.2.0"}}, {},
        "", "log-link"),
    Row("LogOfAnotherOwnerIsLeftOut", "A", {kBcA}, {"-s"}, "",
        {Found('A'), Selecting('A'), Upgrading("Boot Code 5.0.3 to 5.0.4"), O(kComplete)}, 1,
        {Cmd('A', "upgrade -bc", "Boot_Code/bc504.bin")}, {{'A', "5.0.4", "8.3.2", "1.2.0"}}, {},
        "", "log-foreign"),
    // With a sticky system drive folder another user cannot move VLMSYSTEM
    // aside while the run waits: the backup lands where it belongs.
    Row("WorkFolderSwapCannotHappen", "A", {kBcA}, {"-s"}, "",
        {Found('A'), Selecting('A'), Upgrading("Boot Code 5.0.3 to 5.0.4"), O(kComplete)}, 1,
        {Cmd('A', "upgrade -bc", "Boot_Code/bc504.bin")}, {{'A', "5.0.4", "8.3.2", "1.2.0"}}, {},
        "", "swap-at-tool"),
    // The tool's exit code carries no meaning: a started tool counts as done.
    Row("WriterExitCodeIsNotJudged", "A", {kBcA}, {"-s"}, "",
        {Found('A'), Selecting('A'), Upgrading("Boot Code 5.0.3 to 5.0.4"), O(kComplete)}, 1,
        {Cmd('A', "upgrade -bc", "Boot_Code/bc504.bin")}, {{'A', "5.0.4", "8.3.2", "1.2.0"}}, {},
        "exit=7"),
    Row("JumperInProtectPosition", "j", {kBcJ}, {}, "\n",
        {Found('J'), Ask("Boot Code 5.0.3 to 5.1.0", "y", "\n"), Con(kNoticeBc), Selecting('J'),
         Upgrading("Boot Code 5.0.3 to 5.1.0"), O(kJumperError),
         VerifyFailed("Boot Code", "5.0.3", "5.1.0"), O(kJumperEnable), O(kErrors)},
        0, {Cmd('J', "upgrade -bc", "Boot_Code/bcj510.bin")}),
    // All three numbers are compared: a write of another build only that the
    // jumper kept out fails, of the boot code as of PXE.
    Row("JumperBuildOnlyChangeIsCompared", "j", {kBcJBuild}, {"-s"}, "",
        {Found('J'), Selecting('J'), Upgrading("Boot Code 5.0.3 to 5.0.4"), O(kJumperError),
         VerifyFailed("Boot Code", "5.0.3", "5.0.4"), O(kJumperEnable), O(kErrors)},
        0, {Cmd('J', "upgrade -bc", "Boot_Code/bcj504.bin")}),
    Row("JumperPxeBuildOnlyChangeIsCompared", "k", {kPxeK}, {"-s"}, "",
        {Found('K'), Selecting('K'), Upgrading("PXE 8.3.2 to 8.3.3"), O(kJumperError),
         VerifyFailed("PXE", "8.3.2", "8.3.3"), O(kJumperEnableCaps), O(kErrors)},
        0, {Cmd('K', "upgrade -mba", "PXE/pxek833.bin")}),
    // The second jumper model is verified too.
    Row("JumperSecondModelIsVerified", "L", {kBcL}, {"-s"}, "",
        {Found('L'), Selecting('L'), Upgrading("Boot Code 5.0.3 to 5.1.0"), O(kReminder),
         O(kComplete)},
        1, {Cmd('L', "upgrade -bc", "Boot_Code/bcl510.bin")}, {{'L', "5.1.0", "8.3.2", "1.0.0"}}),
    Row("JumperInEnablePosition", "J", {kBcJ}, {}, "\n",
        {Found('J'), Ask("Boot Code 5.0.3 to 5.1.0", "y", "\n"), Con(kNoticeBc), Selecting('J'),
         Upgrading("Boot Code 5.0.3 to 5.1.0"), O(kReminder), O(kComplete)},
        1, {Cmd('J', "upgrade -bc", "Boot_Code/bcj510.bin")}, {{'J', "5.1.0", "2.1.0", "1.0.0"}}),
    // Every write is compared, iSCSI and UMP too; a UMP write alone is
    // followed by no reminder, but by the jumper line when it did not take.
    Row("JumperIscsiOnlyIsCompared", "j", {kIscsiJ}, {"-d", kMacJ}, "\n",
        {Found('J'), Ask("iSCSI 2.1.0 to 2.2.0", "y", "\n"), Con(kNoticeWill), Selecting('J'),
         Upgrading("iSCSI 2.1.0 to 2.2.0"), O(kJumperError),
         VerifyFailed("iSCSI", "2.1.0", "2.2.0"), O(kJumperEnableCaps), O(kErrors)},
        0, {Cmd('J', "upgrade -mba", "iSCSI/iscsi220.bin")}),
    Row("JumperUmpOnlyIsCompared", "j", {kUmpJ}, {"-u", kMacJ}, "\n",
        {Found('J'), Ask("UMP 1.0.0 to 1.1.0", "y", "\n"), Con(kNoticeWill), Selecting('J'),
         Upgrading("UMP 1.0.0 to 1.1.0"), O(kJumperError), VerifyFailed("UMP", "1.0.0", "1.1.0"),
         O(kJumperEnableCaps), O(kErrors)},
        0, {Cmd('J', "upgrade -ump", "UMP/umpj110.bin")}),
    Row("JumperUmpOnlyThatTookGetsNoReminder", "J", {kUmpJ}, {"-s", "-u", kMacJ}, "",
        {Found('J'), Selecting('J'), Upgrading("UMP 1.0.0 to 1.1.0"), O(kComplete)}, 1,
        {Cmd('J', "upgrade -ump", "UMP/umpj110.bin")}, {{'J', "5.0.3", "2.1.0", "1.1.0"}}),
    // The iSCSI image rightly replaces the PXE just written: the pre-boot
    // image written last is the one compared.
    Row("JumperPxeThenIscsiComparesTheIscsi", "K", {kPxeK, kIscsiJ}, {"-x", "-d", "0A1B2C3D4E63"},
        "\n\n",
        {Found('K'), Ask("PXE 8.3.2 to 8.3.3", "y", "\n"), Found('K'),
         Ask("iSCSI 0.0.0 to 2.2.0", "y", "\n"), Con(kNoticeWill), Selecting('K'),
         Upgrading("PXE 8.3.2 to 8.3.3"), Selecting('K'), Upgrading("iSCSI 0.0.0 to 2.2.0"),
         O(kReminder), O(kComplete)},
        1,
        {Cmd('K', "upgrade -mba", "PXE/pxek833.bin"),
         Cmd('K', "upgrade -F -mba", "iSCSI/iscsi220.bin")},
        {{'K', "5.0.3", "2.2.0", "1.0.0"}}),
    // Writes the tool did not carry out, on an adapter without the jumper and
    // on a jumper adapter: each is read back and fails.
    Row("RefusedWritesFail", "A", {kBcA, kPxeA}, {"-s"}, "",
        {Found('A'), Selecting('A'), Upgrading("Boot Code 5.0.3 to 5.0.4"),
         Upgrading("PXE 8.3.2 to 8.3.3"), O(kJumperError),
         VerifyFailed("Boot Code", "5.0.3", "5.0.4"), VerifyFailed("PXE", "8.3.2", "8.3.3"),
         O(kErrors)},
        0,
        {Cmd('A', "upgrade -bc", "Boot_Code/bc504.bin"),
         Cmd('A', "upgrade -mba", "PXE/pxe833.bin")},
        {}, {}, "refuse"),
    // The lines follow the write order (UMP before CLP); the stub is named iSCSI.
    Row("RefusedUmpAndClpFailInWriteOrder", "C", {kClpC, kUmpC}, {"-s"}, "",
        {Found('C'), Selecting('C'), Upgrading("UMP 1.1.9 to 1.2.0"), Selecting('C'),
         Upgrading("CLP 2.5.1 to 2.6.0"), O(kJumperError), VerifyFailed("UMP", "1.1.9", "1.2.0"),
         VerifyFailed("CLP", "2.5.1", "2.6.0"), O(kErrors)},
        0, {Cmd('C', "upgrade -ump", "UMP/ump120.bin"), Cmd('C', "upgrade -mba", "CLP/clp260.bin")},
        {}, {}, "refuse"),
    Row("RefusedStubFailsAsIscsi", "A", {kStubA}, {"-s", "-g", kMacA}, "",
        {Found('A'), Selecting('A'), Upgrading("iSCSI 0.0.0 to 1.0.0"), O(kJumperError),
         VerifyFailed("iSCSI", "0.0.0", "1.0.0"), O(kErrors)},
        0, {Cmd('A', "upgrade -F -mba", "iSCSI/stub100.bin")}, {}, {}, "refuse"),
    Row("CrashedWriteFails", "AB", {kBcA}, {}, "\n\n",
        {Found('A'), Ask("Boot Code 5.0.3 to 5.0.4", "y", "\n"), Found('B'),
         Ask("Boot Code 5.0.3 to 5.0.4", "y", "\n"), Con(kNoticeBc), Selecting('A'),
         Upgrading("Boot Code 5.0.3 to 5.0.4"), O(kJumperError),
         VerifyFailed("Boot Code", "5.0.3", "5.0.4"), Selecting('B'),
         Upgrading("Boot Code 5.0.3 to 5.0.4"), O(kErrors)},
        0,
        {Cmd('A', "upgrade -bc", "Boot_Code/bc504.bin"),
         Cmd('B', "upgrade -bc", "Boot_Code/bc504.bin")},
        {{'B', "5.0.4", "8.3.2", "1.2.0"}}, {}, "crash=before at=1"),
    Row("JumperRefusedBuildOnlyBootCodeFails", "J", {kBcJBuild}, {"-s"}, "",
        {Found('J'), Selecting('J'), Upgrading("Boot Code 5.0.3 to 5.0.4"), O(kJumperError),
         VerifyFailed("Boot Code", "5.0.3", "5.0.4"), O(kJumperEnable), O(kErrors)},
        0, {Cmd('J', "upgrade -bc", "Boot_Code/bcj504.bin")}, {}, {}, "refuse"),
    Row("JumperCrashedPxeWriteFails", "K", {kPxeK}, {"-s"}, "",
        {Found('K'), Selecting('K'), Upgrading("PXE 8.3.2 to 8.3.3"), O(kJumperError),
         VerifyFailed("PXE", "8.3.2", "8.3.3"), O(kJumperEnableCaps), O(kErrors)},
        0, {Cmd('K', "upgrade -mba", "PXE/pxek833.bin")}, {}, {}, "crash=before"),
    // A read-back that fails is a failed write; a jumper adapter then gets
    // no jumper line, as whether its write took is not known.
    Row("ReadBackFails", "A", {kBcA}, {"-s"}, "",
        {Found('A'), Selecting('A'), Upgrading("Boot Code 5.0.3 to 5.0.4"), O(kJumperError),
         O(kNotRead), O(kErrors)},
        0, {Cmd('A', "upgrade -bc", "Boot_Code/bc504.bin")}, {{'A', "5.0.4", "8.3.2", "1.2.0"}}, {},
        "", "", "OmbriGetTernFwInfo status=9 adapter=4097 at=2"),
    Row("JumperReadBackFails", "J", {kBcJ}, {"-s"}, "",
        {Found('J'), Selecting('J'), Upgrading("Boot Code 5.0.3 to 5.1.0"), O(kJumperError),
         O(kNotRead), O(kErrors)},
        0, {Cmd('J', "upgrade -bc", "Boot_Code/bcj510.bin")}, {{'J', "5.1.0", "2.1.0", "1.0.0"}},
        {}, "", "", "OmbriInitDiag status=9 adapter=4100 at=2"),
    // The run the fault sweep below starts from: two adapters, one with a jumper.
    Row("SilentTwoAdaptersOneWithJumper", "AJ", {kBcA, kPxeA, kBcJ}, {"-s"}, "",
        {Found('A'), Found('J'), Selecting('A'), Upgrading("Boot Code 5.0.3 to 5.0.4"),
         Upgrading("PXE 8.3.2 to 8.3.3"), Selecting('J'), Upgrading("Boot Code 5.0.3 to 5.1.0"),
         O(kReminder), O(kComplete)},
        1,
        {Cmd('A', "upgrade -bc", "Boot_Code/bc504.bin"), Cmd('A', "upgrade -mba", "PXE/pxe833.bin"),
         Cmd('J', "upgrade -bc", "Boot_Code/bcj510.bin")},
        {{'A', "5.0.4", "8.3.3", "1.2.0"}, {'J', "5.1.0", "2.1.0", "1.0.0"}}),
    // The jumper adapter's check is owed for it alone: the adapter after it
    // is not read back.
    Row("JumperAdapterThenAnother", "JA", {kBcJ, kBcA}, {"-s"}, "",
        {Found('J'), Found('A'), Selecting('J'), Upgrading("Boot Code 5.0.3 to 5.1.0"),
         O(kReminder), Selecting('A'), Upgrading("Boot Code 5.0.3 to 5.0.4"), O(kComplete)},
        1,
        {Cmd('J', "upgrade -bc", "Boot_Code/bcj510.bin"),
         Cmd('A', "upgrade -bc", "Boot_Code/bc504.bin")},
        {{'J', "5.1.0", "2.1.0", "1.0.0"}, {'A', "5.0.4", "8.3.2", "1.2.0"}}),
    // A model on the site's list is a jumper model, and the built-in ones stay.
    Row("JumperConfigAddsAModel", "JA", {kBcJ, kBcA, kJumperListA}, {"-s"}, "",
        {Found('J'), Found('A'), Selecting('J'), Upgrading("Boot Code 5.0.3 to 5.1.0"),
         O(kReminder), Selecting('A'), Upgrading("Boot Code 5.0.3 to 5.0.4"), O(kReminder),
         O(kComplete)},
        1,
        {Cmd('J', "upgrade -bc", "Boot_Code/bcj510.bin"),
         Cmd('A', "upgrade -bc", "Boot_Code/bc504.bin")},
        {{'J', "5.1.0", "2.1.0", "1.0.0"}, {'A', "5.0.4", "8.3.2", "1.2.0"}}),
    // Words that are no identity as the catalogue writes one are skipped, each
    // with a debug line: lower-case digits, 20 characters, a longer run split
    // after its 20th.
    Row("JumperConfigSkipsWhatIsNoIdentity", "A",
        {kBcA, "Jumper.config 1234-abcd-5678-0001", "Jumper.config 1234-ABCD-5678-00011",
         "Jumper.config 1234-ABCD-5678-0001.bin"},
        {"-debug"}, "\n",
        {Found('A'), Ask("Boot Code 5.0.3 to 5.0.4", "y", "\n"), Con(kNoticeBc), Selecting('A'),
         Upgrading("Boot Code 5.0.3 to 5.0.4"), O(kComplete)},
        1, {"-debug " + Cmd('A', "upgrade -bc", "Boot_Code/bc504.bin")},
        {{'A', "5.0.4", "8.3.2", "1.2.0"}}, {}, "", "", "",
        "ReadJumperList() .\\NIC_FW\\Jumper.config: 1234-abcd-5678-0001 is not an adapter "
        "identity: skipped\r\nReadJumperList() .\\NIC_FW\\Jumper.config: 1234-ABCD-5678-00011 "
        "is not an adapter identity: skipped\r\nReadJumperList() .\\NIC_FW\\Jumper.config: "
        "1234-ABCD-5678-0001. is not an adapter identity: skipped\r\nReadJumperList() "
        ".\\NIC_FW\\Jumper.config: bin is not an adapter identity: skipped\r\n"),
    // One notice; each adapter's header once above its boot code; both writes
    // of an adapter name the same backup, which keeps the image from before.
    Row("TwoAdaptersBootCodeAndPxe", "AB", {kBcA, kPxeA}, {}, "\n\n\n\n",
        {Found('A'), Ask("Boot Code 5.0.3 to 5.0.4", "y", "\n"),
         Ask("PXE 8.3.2 to 8.3.3", "y", "\n"), Found('B'),
         Ask("Boot Code 5.0.3 to 5.0.4", "y", "\n"), Ask("PXE 8.3.2 to 8.3.3", "y", "\n"),
         Con(kNoticeBc), Selecting('A'), Upgrading("Boot Code 5.0.3 to 5.0.4"),
         Upgrading("PXE 8.3.2 to 8.3.3"), Selecting('B'), Upgrading("Boot Code 5.0.3 to 5.0.4"),
         Upgrading("PXE 8.3.2 to 8.3.3"), O(kComplete)},
        1,
        {Cmd('A', "upgrade -bc", "Boot_Code/bc504.bin"), Cmd('A', "upgrade -mba", "PXE/pxe833.bin"),
         Cmd('B', "upgrade -bc", "Boot_Code/bc504.bin"),
         Cmd('B', "upgrade -mba", "PXE/pxe833.bin")},
        {{'A', "5.0.4", "8.3.3", "1.2.0"}, {'B', "5.0.4", "8.3.3", "1.2.0"}}),
    // Restore. -a lists the images of each adapter, found by their content,
    // with the versions their names record; decoys are passed over.
    Row("ListBackupsAmongDecoys", "AB", {}, {"-a"}, "",
        {O("0 0A1B2C3D4E5F 1234-ABCD-5678-0001 5 0 2 8 3 1 1 2 0 - - - - - -  {P}" +
           std::string(kSavedA) + " \n"),
         O("0 0A1B2C3D4E5F 1234-ABCD-5678-0001 0 0 0 - - - - - - - - - - - -  {P}renamed.img \n"),
         O("1 0A1B2C3D4E60 1234-ABCD-5678-0001 5 0 1 8 3 0 - - - - - - - - -  {P}" +
           std::string(kSavedB) + " \n")},
        3, {}, {},
        {kHidden,
         kImageA,
         {kSavedB, 'B', "5.0.1", "8.3.0", SavedImage::IMAGE},
         {"notes.txt", 0, "", "", SavedImage::TEXT},
         {"renamed.img", 'A', "5.0.2", "8.3.1", SavedImage::IMAGE},
         {"samemac.bin", 'A', "5.0.2", "8.3.1", SavedImage::OTHER_IDENTITY},
         kSubdirectory}),
    Row("RestoreYes", "A", {}, {"-p"}, "y\n",
        {Found('A'), O(kSameFirmware),
         AskRestore("Boot Code 5.0 to 5.0 and PXE 8.3.2 to 8.3.1", "n", "y\n"), Con(kNoticeRestore),
         Selecting('A'), Restoring(kSavedA), O(kComplete)},
        1, {RestoreCmd('A', kSavedA)}, {{'A', "5.0.2", "8.3.1", "1.2.0"}}, {kImageA}),
    Row("RestoreNoThenYes", "A", {}, {"-p"}, "n\ny\n",
        {Found('A'), O(kNewerFirmware),
         AskRestore("Boot Code 5.0 to 4.9 and PXE 8.3.2 to 8.2.0", "n", "n\n"), O(kSameFirmware),
         AskRestore("Boot Code 5.0 to 5.0 and PXE 8.3.2 to 8.3.1", "n", "y\n"), Con(kNoticeRestore),
         Selecting('A'), Restoring(kSavedA), O(kComplete)},
        1, {RestoreCmd('A', kSavedA)}, {{'A', "5.0.2", "8.3.1", "1.2.0"}}, {kImageA, kImageAOlder}),
    Row("RestoreQuit", "AB", {}, {"-p"}, "q\n",
        {Found('A'), O(kSameFirmware),
         AskRestore("Boot Code 5.0 to 5.0 and PXE 8.3.2 to 8.3.1", "n", "q\n"), O(kCancelled)},
        1, {}, {}, {kImageA}),
    // -e takes the whole path in any letter case; only that image is offered.
    Row("RestoreFileInOtherLetterCase", "A", {},
        {"-e", "{p}0A1B2C3D4E5F.BC5.0.2.P8.3.1.U1.2.0.BIN"}, "y\n",
        {Found('A'), O(kSameFirmware),
         AskRestore("Boot Code 5.0 to 5.0 and PXE 8.3.2 to 8.3.1", "n", "y\n"), Con(kNoticeRestore),
         Selecting('A'), Restoring(kSavedA), O(kComplete)},
        1, {RestoreCmd('A', kSavedA)}, {{'A', "5.0.2", "8.3.1", "1.2.0"}}, {kImageAOlder, kImageA}),
    // Every letter is compared without regard to case, Z too.
    Row("RestoreFileWithAZInOtherLetterCase", "A", {}, {"-e", "{p}0A1B2C3D4E5F.ZETA.BIN"}, "y\n",
        {Found('A'), O(kNewerFirmware), AskRestore("Boot Code 5.0.3 to 0.0.0", "n", "y\n"),
         Con(kNoticeRestore), Selecting('A'), Restoring("0A1B2C3D4E5F.zeta.bin"), O(kComplete)},
        1, {RestoreCmd('A', "0A1B2C3D4E5F.zeta.bin")}, {{'A', "5.0.2", "8.3.1", "1.2.0"}},
        {{"0A1B2C3D4E5F.zeta.bin", 'A', "5.0.2", "8.3.1", SavedImage::IMAGE}}),
    // A saved image renamed with blanks reaches the tool as one argument and is
    // restored; its name gives no versions.
    Row("RestoreFileWithBlanksInItsName", "A", {}, {"-p"}, "y\n",
        {Found('A'), O(kNewerFirmware), AskRestore("Boot Code 5.0.3 to 0.0.0", "n", "y\n"),
         Con(kNoticeRestore), Selecting('A'), Restoring(kSavedACopy), O(kComplete)},
        1, {RestoreCmd('A', kSavedACopy) + " => written"}, {{'A', "5.0.2", "8.3.1", "1.2.0"}},
        {{kSavedACopy, 'A', "5.0.2", "8.3.1", SavedImage::IMAGE}}),
    Row("RestoreFileByBareNameMatchesNothing", "A", {}, {"-e", kSavedA}, "y\n", {}, 3, {}, {},
        {kImageA}),
    Row("ListWinsOverRestore", "A", {}, {"-a", "-p"}, "y\n",
        {O("0 0A1B2C3D4E5F 1234-ABCD-5678-0001 5 0 2 8 3 1 1 2 0 - - - - - -  {P}" +
           std::string(kSavedA) + " \n")},
        3, {}, {}, {kImageA}),
    // No candidate at all: the message before any question, exit code 3, the
    // library closed.
    Row("NoSavedImages", "A", {}, {"-p"}, "y\n",
        {O("\nNo images have been saved for firmware restore \n")}, 3, {}, {},
        {kHidden, kSubdirectory}),
    // An image another user owns is no candidate: its name, which promises an
    // older boot code, decides nothing.
    Row("ImageOfAnotherOwnerIsNoCandidate", "A", {}, {"-p"}, "y\n",
        {Found('A'), O(kSameFirmware),
         AskRestore("Boot Code 5.0 to 5.0 and PXE 8.3.2 to 8.3.1", "n", "y\n"), Con(kNoticeRestore),
         Selecting('A'), Restoring(kSavedA), O(kComplete)},
        1, {RestoreCmd('A', kSavedA)}, {{'A', "5.0.2", "8.3.1", "1.2.0"}},
        {{"0A1B2C3D4E5F.bc4.0.0.bin", 'A', "5.0.2", "8.3.1", SavedImage::FOREIGN}, kImageA}),
    // A listing of the saved images needs no catalogue.
    Row("ListBackupsWithoutCatalogue", "A", {}, {"-a"}, "",
        {O("0 0A1B2C3D4E5F 1234-ABCD-5678-0001 5 0 2 8 3 1 1 2 0 - - - - - -  {P}" +
           std::string(kSavedA) + " \n")},
        3, {}, {}, {kImageA}, "", "no-catalogue"),
    // A link is no candidate, although the image it points to is this adapter's.
    Row("LinkedImageIsNoCandidate", "A", {}, {"-p"}, "y\n",
        {O("\nNo images have been saved for firmware restore \n")}, 3, {}, {},
        {{kSavedA, 'A', "5.0.2", "8.3.1", SavedImage::LINK}}),
    // The jumper warnings once, although the first image is declined; the
    // restore is verified against the versions the name records.
    Row("RestoreOnJumperAdapterIsVerified", "J", {}, {"-p"}, "n\ny\n",
        {Found('J'), O(kJumperWarnings), O(kNewerFirmware),
         AskRestore("Boot Code 5.0 to 4.8 and UMP 1.0 to 1.0", "n", "n\n"), O(kNewerFirmware),
         AskRestore("Boot Code 5.0 to 4.9 and UMP 1.0 to 1.0", "n", "y\n"), Con(kNoticeRestore),
         Selecting('J'), Restoring(kSavedJ49), O(kReminder), O(kComplete)},
        1, {RestoreCmd('J', kSavedJ49)}, {{'J', "4.9.0", "2.1.0", "1.0.0"}},
        {{kSavedJ48, 'J', "4.8.0", "2.1.0", SavedImage::IMAGE},
         {kSavedJ49, 'J', "4.9.0", "2.1.0", SavedImage::IMAGE}}),
    Row("SilentRestoreOfANewerImage", "A", {}, {"-s", "-e", "{P}" + std::string(kSavedANewer)}, "",
        {Found('A'), Selecting('A'), Restoring(kSavedANewer), O(kComplete)}, 1,
        {RestoreCmd('A', kSavedANewer)}, {{'A', "5.1.0", "8.3.2", "1.2.0"}},
        {{kSavedANewer, 'A', "5.1.0", "8.3.2", SavedImage::IMAGE}}),
    Row("SilentRestoreOfAnOlderImageWritesNothing", "A", {},
        {"-s", "-e", "{P}" + std::string(kSavedA)}, "", {Found('A'), O(kSameFirmware)}, 3, {}, {},
        {kImageA}),
    Row("ForcedSilentRestore", "A", {}, {"-s", "-f", "-e", "{P}" + std::string(kSavedA)}, "",
        {Found('A'), O(kSameFirmware), Selecting('A'), Restoring(kSavedA), O(kComplete)}, 1,
        {RestoreCmd('A', kSavedA)}, {{'A', "5.0.2", "8.3.1", "1.2.0"}}, {kImageA}),
    // Every run saves its own backup: a file at the name is kept, and the
    // tool is given the first free sibling, never the image it restores.
    Row("SecondRunSavesASecondBackup", "A", {kBcA}, {"-s"}, "",
        {Found('A'), Selecting('A'), Upgrading("Boot Code 5.0.3 to 5.0.4"), O(kComplete)}, 1,
        {Cmd('A', "upgrade -bc", "Boot_Code/bc504.bin", kBackupA2)},
        {{'A', "5.0.4", "8.3.2", "1.2.0"}}, {kBackupAImage}),
    Row("RestoreOfTheFileNamedForTheInstalledVersions", "A", {}, {"-p"}, "y\n",
        {Found('A'), O(kSameFirmware),
         AskRestore("Boot Code 5.0 to 5.0 and PXE 8.3.2 to 8.3.2", "n", "y\n"), Con(kNoticeRestore),
         Selecting('A'), Restoring(kBackupAName), O(kComplete)},
        1, {RestoreCmd('A', kBackupAName, kBackupA2)}, {}, {kBackupAImage}),
    // The question names each component the saved image's name records and
    // weighs it: a newer CLP alone makes the boot code's same version a yes.
    Row("RestoreQuestionNamesTheClp", "C", {}, {"-p"}, "\n",
        {Found('C'), AskRestore("Boot Code 4.6.1 to 4.6.1 and CLP 2.5.1 to 2.6.0", "y", "\n"),
         Con(kNoticeRestore), Selecting('C'), Restoring(kSavedC), O(kComplete)},
        1, {RestoreCmd('C', kSavedC)}, {{'C', "4.6.1", "2.6.0", "1.1.9"}},
        {{kSavedC, 'C', "4.6.1", "2.6.0", SavedImage::IMAGE}}),
    Row("RestoreQuestionNamesTheUmp", "A", {}, {"-p"}, "\n",
        {Found('A'), O(kSameFirmware),
         AskRestore("Boot Code 5.0 to 5.0 and UMP 1.2 to 1.1", "n", "\n")},
        3, {}, {}, {{"0A1B2C3D4E5F.bc5.0.3.u1.1.0.bin", 'A', "5.0.3", "8.3.2", SavedImage::IMAGE}}),
    // A restore that did not take is read back and fails.
    Row("RefusedRestoreFails", "A", {}, {"-s", "-e", "{P}" + std::string(kSavedANewer)}, "",
        {Found('A'), Selecting('A'), Restoring(kSavedANewer), O(kJumperError),
         VerifyFailed("Boot Code", "5.0.3", "5.1.0"), O(kErrors)},
        0, {RestoreCmd('A', kSavedANewer)}, {},
        {{kSavedANewer, 'A', "5.1.0", "8.3.2", SavedImage::IMAGE}}, "refuse"),
    // A tool that ends without saving the backup: the write failed.
    Row("WriteWithoutItsBackupFails", "A", {kBcA}, {"-s"}, "",
        {Found('A'), Selecting('A'), Upgrading("Boot Code 5.0.3 to 5.0.4"),
         L("ERROR: Upgrade of Gigabit Server Adapter (port 1) MAC: 0A1B2C3D4E5F cmd:(.\\imgwriter  "
           "0A1B2C3D4E5F upgrade -bc ./NIC_FW/Boot_Code/bc504.bin "
           "{B}0A1B2C3D4E5F.bc5.0.3.p8.3.2.u1.2.0.bin) failed with internal error 15\r\n"),
         O(kErrors)},
        0, {Cmd('A', "upgrade -bc", "Boot_Code/bc504.bin")}, {}, {}, "nobackup"),
    // Restores on jumper adapters are compared where the saved versions are
    // known: an image without PXE leaves none, a renamed one is not compared,
    // one that did not take effect fails.
    Row("JumperRestoreOfAnImageWithoutPxe", "K", {}, {"-p"}, "y\n",
        {Found('K'), O(kJumperWarnings), O(kNewerFirmware),
         AskRestore("Boot Code 5.0 to 4.9 and UMP 1.0 to 1.0", "n", "y\n"), Con(kNoticeRestore),
         Selecting('K'), Restoring("0A1B2C3D4E63.bc4.9.0.u1.0.0.bin"), O(kReminder), O(kComplete)},
        1, {RestoreCmd('K', "0A1B2C3D4E63.bc4.9.0.u1.0.0.bin")}, {{'K', "4.9.0", "", "1.0.0"}},
        {{"0A1B2C3D4E63.bc4.9.0.u1.0.0.bin", 'K', "4.9.0", "", SavedImage::IMAGE}}),
    Row("JumperRestoreOfARenamedImage", "J", {}, {"-p"}, "y\n",
        {Found('J'), O(kJumperWarnings), O(kNewerFirmware),
         AskRestore("Boot Code 5.0.3 to 0.0.0", "n", "y\n"), Con(kNoticeRestore), Selecting('J'),
         Restoring("renamed.img"), O(kReminder), O(kComplete)},
        1, {RestoreCmd('J', "renamed.img")}, {{'J', "4.9.0", "2.1.0", "1.0.0"}},
        {{"renamed.img", 'J', "4.9.0", "2.1.0", SavedImage::IMAGE}}),
    // The restore of a model on the site's list warns of the jumper too.
    Row("JumperConfigModelIsWarnedOfAtRestore", "A", {kJumperListA}, {"-p"}, "y\n",
        {Found('A'), O(kJumperWarnings), O(kNewerFirmware),
         AskRestore("Boot Code 5.0.3 to 0.0.0", "n", "y\n"), Con(kNoticeRestore), Selecting('A'),
         Restoring("renamed.img"), O(kReminder), O(kComplete)},
        1, {RestoreCmd('A', "renamed.img")}, {{'A', "5.0.2", "8.3.1", "1.2.0"}},
        {{"renamed.img", 'A', "5.0.2", "8.3.1", SavedImage::IMAGE}}),
    Row("JumperRestoreInProtectPositionFails", "j", {}, {"-p"}, "y\n",
        {Found('J'), O(kJumperWarnings), O(kNewerFirmware),
         AskRestore("Boot Code 5.0 to 4.9 and UMP 1.0 to 1.0", "n", "y\n"), Con(kNoticeRestore),
         Selecting('J'), Restoring(kSavedJ49), O(kJumperError),
         VerifyFailed("Boot Code", "5.0.3", "4.9.0"), O(kJumperEnableCaps), O(kErrors)},
        0, {RestoreCmd('J', kSavedJ49)}, {},
        {{kSavedJ49, 'J', "4.9.0", "2.1.0", SavedImage::IMAGE}}),
    // The plan listing of a backup run shows only versions of this adapter's
    // images: the last file read is another adapter's, and its name's versions
    // are not taken.
    Row("ListPlanOfBackupsTakesNoForeignVersions", "A", {}, {"-a", "-l"}, "",
        {O("0 0A1B2C3D4E5F 1234-ABCD-5678-0001 5 0 2 8 3 1 1 2 0 - - - - - -  {P}" +
           std::string(kSavedA) + " \n"),
         O("0 0A1B2C3D4E5F 1234-ABCD-5678-0001 - - - - - - - - - - - - - - - - - -  " +
           std::string(kDescA) + " \n")},
        1, {}, {},
        {kImageA,
         {"0A1B2C3D4E5F.bc9.9.9.p9.9.9.bin", 'A', "5.0.2", "8.3.1", SavedImage::OTHER_IDENTITY}}),
    // The library is closed before the summary: a library that ends the
    // process on its close leaves a run without one.
    Row("LibraryClosedBeforeTheSummary", "A", {kBcA}, {"-N"}, "", {Found('A')}, 42, {}, {}, {}, "",
        "", "OmbriUninitialize exit=42"),
    // The oldest library the upgrade run accepts.
    Row("OldestLibraryAccepted", "A", {kBcA}, {"-s"}, "",
        {Found('A'), Selecting('A'), Upgrading("Boot Code 5.0.3 to 5.0.4"), O(kComplete)}, 1,
        {Cmd('A', "upgrade -bc", "Boot_Code/bc504.bin")}, {{'A', "5.0.4", "8.3.2", "1.2.0"}}, {},
        "", "", "", "", "7.5.18"),
    // Trouble with the work files: a log that cannot be opened is left out
    // while the console shows everything; a log removed while the run goes
    // on is started again; a backup directory that cannot be listed offers
    // nothing.
    Row("LogDirectoryCannotBeCreated", "A", {kBcA}, {}, "\n",
        {Found('A'), Ask("Boot Code 5.0.3 to 5.0.4", "y", "\n"), Con(kNoticeBc), Selecting('A'),
         Upgrading("Boot Code 5.0.3 to 5.0.4"), O(kComplete)},
        1, {Cmd('A', "upgrade -bc", "Boot_Code/bc504.bin")}, {{'A', "5.0.4", "8.3.2", "1.2.0"}}, {},
        "", "log-dir-is-file"),
    Row("LogCannotBeOpened", "A", {kBcA}, {"-s"}, "",
        {Found('A'), Selecting('A'), Upgrading("Boot Code 5.0.3 to 5.0.4"), O(kComplete)}, 1,
        {Cmd('A', "upgrade -bc", "Boot_Code/bc504.bin")}, {{'A', "5.0.4", "8.3.2", "1.2.0"}}, {},
        "", "log-is-directory"),
    Row("LogReadOnly", "A", {kBcA}, {}, "\n",
        {Found('A'), Ask("Boot Code 5.0.3 to 5.0.4", "y", "\n"), Con(kNoticeBc), Selecting('A'),
         Upgrading("Boot Code 5.0.3 to 5.0.4"), O(kComplete)},
        1, {Cmd('A', "upgrade -bc", "Boot_Code/bc504.bin")}, {{'A', "5.0.4", "8.3.2", "1.2.0"}}, {},
        "", "log-read-only"),
    Row("LogRemovedWhileTheRunGoesOn", "A", {kBcA, kPxeA}, {"-s"}, "",
        {Found('A'), Selecting('A'), Upgrading("Boot Code 5.0.3 to 5.0.4"),
         Upgrading("PXE 8.3.2 to 8.3.3"), O(kComplete)},
        1,
        {Cmd('A', "upgrade -bc", "Boot_Code/bc504.bin"),
         Cmd('A', "upgrade -mba", "PXE/pxe833.bin")},
        {{'A', "5.0.4", "8.3.3", "1.2.0"}}, {}, "", "log-removed"),
    Row("BackupDirectoryCannotBeListed", "A", {}, {"-p"}, "y\n", {}, 3, {}, {}, {}, "",
        "backups-is-file"),
};

// The "key value" line KEY of what simtool show printed.
std::string ShowField(const std::string &show, const std::string &key) {
    size_t at = ("\n" + show).find("\n" + key + " ");
    if (at == std::string::npos) {
        return "?";
    }
    at += key.size() + 1;
    return show.substr(at, show.find('\n', at) - at);
}

bool HasArg(const Scenario &s, const char *arg) {
    return std::find(s.args.begin(), s.args.end(), arg) != s.args.end();
}

class UpgradeRunTest : public UpgradeServerTest, public ::testing::WithParamInterface<Scenario> {};

TEST_P(UpgradeRunTest, Scenario) {
    const Scenario &s = GetParam();
    if ((s.trouble == "log-removed" || s.trouble == "log-read-only" || s.trouble == "log-link" ||
         s.trouble == "swap-at-tool") &&
        IsWindowsTarget()) {
        GTEST_SKIP() << "native only";
    }
    // Wine lists a symbolic link to a file as the file itself.
    if (IsWindowsTarget() &&
        std::any_of(s.saved.begin(), s.saved.end(),
                    [](const SavedImage &saved) { return saved.kind == SavedImage::LINK; })) {
        GTEST_SKIP() << "Wine does not model a link to a file; the native row holds the rule";
    }
    Layout(s);
    ASSERT_FALSE(HasFailure());
    // A read-only log: even the administrator cannot write an immutable file.
    const std::string earlier = "an earlier run\r\n";
    if (s.trouble == "log-read-only") {
        RunHost("/bin/mkdir",
                RunSpec{{"-p", SystemDriveDir(work_) + "/VLMSYSTEM/log"}, "", {}, ""});
        WriteFileText(LogFileOf(work_), earlier);
        if (RunHost("chattr", RunSpec{{"+i", LogFileOf(work_)}, "", {}, ""}).exit_code != 0) {
            GTEST_SKIP() << "this file system has no immutable files";
        }
    }
    RunResult r = RunScenario(s);
    if (s.trouble == "log-read-only") {
        RunHost("chattr", RunSpec{{"-i", LogFileOf(work_)}, "", {}, ""});
    }

    // What the operator sees.
    const bool silent = HasArg(s, "-s");
    std::string console = silent ? "" : kTitle;
    std::string log = BannerLog();
    for (const Event &e : s.events) {
        std::string text = Fill(e.text);
        console += silent || e.where == Event::LOG ? "" : text;
        log += e.where == Event::CONSOLE ? "" : text;
        log += e.where == Event::ASK ? e.answer : e.where == Event::CHILD ? "\r\n" : "";
    }
    // Closed at the end of the run, unless the library ended the process.
    log += s.library_fault.find("exit=") == std::string::npos ? "\r\n" : "";
    const bool log_kept =
        s.trouble == "log-read-only" || s.trouble == "log-link" || s.trouble == "log-foreign";
    if (log_kept) {
        log = earlier; // left as it was, byte for byte; the console shows everything
    } else if (s.trouble == "log-dir-is-file" || s.trouble == "log-is-directory") {
        log = ""; // left out; the console shows everything
    } else if (s.trouble == "log-removed") {
        log = log.substr(log.find("\r\n\r\n", log.find("Upgrading")) + 4); // after the first start
    }
    EXPECT_EQ(r.out, Console(console));
    EXPECT_EQ(s.trouble == "log-is-directory" ? "" : ReadFileText(LogFileOf(work_)),
              log_kept ? log : Console(log));
    EXPECT_EQ(r.exit_code, s.exit_code);
    if (s.err.empty()) {
        EXPECT_EQ(r.err, "");
    } else {
        EXPECT_NE(r.err.find(Console(s.err)), std::string::npos) << r.err;
    }
    EXPECT_TRUE(LibraryClosed(calls_));

    // What the tool was asked to do (the command part of each journal line,
    // the whole line where the row gives an outcome), and what the adapters
    // hold afterwards. Every backup named on a command line holds its
    // adapter's image from before the run, byte for byte; every saved image
    // is left as it was (the rows that restore it check the adapter); no
    // other file is in the directory.
    std::vector<std::string> commands, received;
    std::map<std::string, std::string> backups;
    for (const std::string &c : s.commands) {
        commands.push_back(Fill(c));
        std::string command = commands.back().substr(0, commands.back().find(" => "));
        std::string name = command.substr(command.rfind('/') + 1);
        if (s.writer_fault != "nobackup") {
            backups[name] = ReadFileText(NvramPath(AdapterOfName(name)->key) + ".before");
        }
    }
    for (const std::string &line : ReadLines(Journal())) {
        size_t i = received.size();
        bool whole = i < commands.size() && commands[i].find(" => ") != std::string::npos;
        received.push_back(whole ? line : line.substr(0, line.find(" => ")));
    }
    EXPECT_EQ(received, commands);
    for (const AdapterDef *a : used_) {
        const NvramAfter *after = nullptr;
        for (const NvramAfter &n : s.nvram) {
            after = n.adapter == a->key ? &n : after;
        }
        if (after == nullptr) {
            EXPECT_EQ(ReadFileText(NvramPath(a->key)), ReadFileText(NvramPath(a->key) + ".before"))
                << a->nvram;
            continue;
        }
        std::string show = ShowNvram(NvramPath(a->key)).out;
        EXPECT_EQ(ShowField(show, "bootcode"), "\"" + std::string(after->bootcode) + "\"");
        EXPECT_EQ(ShowField(show, "preboot"), "\"" + std::string(after->preboot) + "\"");
        EXPECT_EQ(ShowField(show, "ump"), "\"" + std::string(after->ump) + "\"");
    }
    for (const SavedImage &saved : s.saved) {
        if (saved.name[0] != '.') {
            backups[saved.name] = saved_bytes_[saved.name];
        }
    }
    EXPECT_TRUE(BackupsAre(backups));
}

INSTANTIATE_TEST_SUITE_P(Runs, UpgradeRunTest, ::testing::ValuesIn(kScenarios), RowName<Scenario>);

// ---------------------------------------------------------------------------
// An upgrade undone: the backup the tool saved before the first write is
// restored, and the adapter's NVRAM is byte for byte what it was.

TEST_F(UpgradeRunTest, UpgradeUndoneByRestoringItsBackup) {
    const Scenario *upgrade = nullptr;
    for (const Scenario &s : kScenarios) {
        upgrade = std::string(s.name) == "TwoAdaptersBootCodeAndPxe" ? &s : upgrade;
    }
    ASSERT_NE(upgrade, nullptr);
    Layout(*upgrade);
    ASSERT_FALSE(HasFailure());
    ASSERT_EQ(RunScenario(*upgrade).exit_code, 1);
    std::string a = ServerDir() + "/a.nvram";
    ASSERT_NE(ReadFileText(a), ReadFileText(a + ".before"));

    Scenario undo = *upgrade;
    undo.args = {"-s", "-f", "-e", "{P}" + BackupName('A', 0)};
    RunResult r = RunScenario(undo);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(ReadFileText(a), ReadFileText(a + ".before"));
    EXPECT_TRUE(LibraryClosed(calls_));

    RunSpec report;
    report.args = {"-c"};
    report.env = SimEnv(server_);
    r = Run(report);
    EXPECT_EQ(r.out,
              Console("0 0A1B2C3D4E5F 1234-ABCD-5678-0001 5 0 3 8 3 2 1 2 0 - - - - - - - - - "
                      " Gigabit Server Adapter (port 1) \n"
                      "1 0A1B2C3D4E60 1234-ABCD-5678-0001 5 0 4 8 3 3 1 2 0 - - - - - - - - - "
                      " Gigabit Server Adapter (port 2) \n"));
}

// ---------------------------------------------------------------------------
// Every library call of a scenario failing in turn: whatever fails, the run
// ends with a defined exit code, no crash or sanitizer report, nothing on
// standard error, and the library closed. Under Wine a sample of positions.

const char *const kSweeps[] = {"SilentTwoAdaptersOneWithJumper",
                               "InteractiveAcceptAll",
                               "AdviseNewer",
                               "ListPlan",
                               "ListBackupsAmongDecoys",
                               "RestoreOnJumperAdapterIsVerified"};

std::vector<Scenario> SweptScenarios() {
    std::vector<Scenario> swept;
    for (const Scenario &s : kScenarios) {
        for (const char *name : kSweeps) {
            if (std::string(name) == s.name) {
                swept.push_back(s);
            }
        }
    }
    return swept;
}

class UpgradeRunSweepTest : public UpgradeRunTest {
  protected:
    struct Outcome {
        int exit_code;
        std::string out, log;
    };

    // The clean run of the scenario on a changed server: without the adapters
    // of the handles in DROP, and with the version texts FIELDS of the NVRAM
    // image of adapter BLANK emptied. Remembered by its key; the layout is left
    // as it was.
    const Outcome &Variant(const Scenario &s, const std::vector<std::string> &drop, char blank,
                           const std::vector<std::string> &fields) {
        std::string key = std::string(1, blank);
        for (const std::string &d : drop) {
            key += "-" + d;
        }
        for (const std::string &f : fields) {
            key += f;
        }
        auto known = variants_.find(key);
        if (known != variants_.end()) {
            return known->second;
        }
        std::string machine = ReadFileText(server_.machine);
        std::string reduced;
        for (const std::string &line : ReadLines(server_.machine)) {
            bool dropped = false;
            for (const std::string &d : drop) {
                dropped = dropped || line.find("handle=" + d + " ") != std::string::npos;
            }
            reduced += dropped ? "" : line + "\n";
        }
        WriteFileText(server_.machine, reduced);
        Restore();
        if (blank != 0) {
            std::vector<std::string> edit = {"edit", ServerDir() + "/" + FindAdapter(blank)->nvram};
            for (const std::string &f : fields) {
                edit.push_back(f);
                edit.push_back("");
            }
            RunSimtool(edit);
        }
        RunResult r = RunScenario(s);
        Outcome &o = variants_[key];
        o = {r.exit_code, r.out, ReadFileText(LogFileOf(work_))};
        WriteFileText(server_.machine, machine);
        Restore();
        return o;
    }
    std::map<std::string, Outcome> variants_;
};

// The adapter of a handle, and the handles in machine order.
char KeyOf(const std::string &handle) {
    for (const AdapterDef &a : kAdapters) {
        if (std::to_string(a.handle) == handle) {
            return a.key;
        }
    }
    return 0;
}

// Counts the calls of op (on handle) before position n.
size_t CallsBefore(const std::vector<SimCall> &calls, size_t n, const std::string &op,
                   const std::string &handle) {
    size_t count = 0;
    for (size_t i = 0; i + 1 < n; i++) {
        count += calls[i].op == op && SimCallArg(calls[i], "handle") == handle ? 1 : 0;
    }
    return count;
}

// NVRAM reads that the scan of each adapter's image needs before it knows the
// kind (its image is the first directory entry): PXE 3, iSCSI 5, CLP 6 (a CLP
// match does not end the scan, so later reads fail with the CLP known).
size_t ReadsToKind(char key) {
    return key == 'C' ? 6 : key == 'J' ? 5 : 3;
}

std::string InsertAfter(const std::string &text, const std::string &after,
                        const std::string &line) {
    size_t at = text.find(after);
    return at == std::string::npos
               ? text
               : text.substr(0, at + after.size()) + line + text.substr(at + after.size());
}

std::string ReplaceOnce(const std::string &text, const std::string &from, const std::string &to) {
    size_t at = text.find(from);
    return at == std::string::npos ? text + "<" + from + " not found>"
                                   : text.substr(0, at) + to + text.substr(at + from.size());
}

TEST_P(UpgradeRunSweepTest, EveryLibraryCallFailingInTurn) {
    const Scenario &s = GetParam();
    Layout(s);
    ASSERT_FALSE(HasFailure());
    RunResult clean_run = RunScenario(s);
    ASSERT_EQ(clean_run.exit_code, s.exit_code);
    const Outcome clean = {clean_run.exit_code, clean_run.out, ReadFileText(LogFileOf(work_))};
    const std::vector<SimCall> clean_calls = calls_;
    ASSERT_GT(clean_calls.size(), 8u);
    const bool silent = HasArg(s, "-s");
    const std::string banner = Console(BannerLog());
    auto early = [&](int exit_code, const std::string &text) {
        return Outcome{exit_code, silent ? "" : Console(kTitle + text),
                       banner + Console(text + "\r\n")};
    };
    auto replaced = [&](Outcome o, const std::string &from, const std::string &to) {
        o.out = silent ? o.out : ReplaceOnce(o.out, Console(from), Console(to));
        o.log = ReplaceOnce(o.log, Console(from), Console(to));
        return o;
    };
    const std::string kRead = "Failed to read NVRAM!\r\n";
    const size_t step = IsWindowsTarget() ? 7 : 1;
    // The figure docs/reliability.md quotes.
    std::printf("%s: %zu library call positions, every %zu swept\n", s.name, clean_calls.size(),
                step);
    for (size_t n = 1; n <= clean_calls.size(); n += step) {
        const SimCall &call = clean_calls[n - 1];
        const std::string &op = call.op;
        const std::string handle = SimCallArg(call, "handle");
        const char key = KeyOf(handle);
        SCOPED_TRACE("call " + std::to_string(n) + " failing: " + call.line);
        // Before the adapter first left diagnostic mode the call belongs to the
        // table build, after it to the re-read of a jumper adapter.
        const bool reread = CallsBefore(clean_calls, n, "OmbriUnInitDiag", handle) > 0;
        std::vector<std::string> later; // this adapter and those after it
        for (const AdapterDef *a : used_) {
            if (!later.empty() || a->key == key) {
                later.push_back(std::to_string(a->handle));
            }
        }

        // The outcome the failing call implies, built before the faulted run
        // (a variant lays the server out anew).
        Outcome expected = clean;
        if (op == "OmbriGetVersion") {
            expected = early(3, "Unsupported OMBRI version 0.0.0.\r\nExpect OMBRI version "
                                "7.5.19 or later.\r\n");
        } else if (op == "OmbriInitializeEx") {
            expected = early(0, "");
        } else if (op == "OmbriGetNumPhyNicEx" || op == "OmbriGetAllPhyNicHandles") {
            expected = early(3, "No supported network adapters for firmware upgrade.\r\n");
        } else if (op == "OmbriGetNicInfo" || op == "OmbriGetNicAuxInfo") {
            // The adapter is dropped: a server without it.
            expected = Variant(s, {handle}, 0, {});
        } else if (op == "OmbriInitDiag" && !reread) {
            // The table build stops: this adapter and those after it keep
            // zero records and take no part (the listing shows them zero).
            expected = later.size() == used_.size() ? early(3, "") : Variant(s, later, 0, {});
            if (HasArg(s, "-l")) {
                // The listing ends the run with 1; its zero lines come last.
                const std::string end = Console("\r\n"); // the close of the log
                expected.exit_code = 1;
                expected.log.resize(expected.log.size() - end.size());
                for (size_t i = used_.size() - later.size(); i < used_.size(); i++) {
                    std::string zero = Console(std::to_string(i) + "              0000-0000-0000-"
                                                                   "0000 - - - - - - - - - - - - "
                                                                   "- - - - - -   \n");
                    expected.out += silent ? "" : zero;
                    expected.log += zero;
                }
                expected.log += end;
            }
        } else if (op == "OmbriGetTernFwInfo" && !reread) {
            // No version texts: the adapter as one with none installed.
            expected = Variant(s, {}, key, {"--bootcode", "--preboot", "--ump"});
        } else if (op == "OmbriReadFirmware" && !reread) {
            // The scan ends: before the image's kind is known the pre-boot
            // text is not used, after it the run is the clean one.
            size_t read = CallsBefore(clean_calls, n, op, handle) + 1;
            expected = read <= ReadsToKind(key) ? Variant(s, {}, key, {"--preboot"}) : clean;
            expected.out =
                silent ? expected.out : InsertAfter(expected.out, Console(kTitle), Console(kRead));
            expected.log = InsertAfter(expected.log, banner, Console(kRead));
        } else if (op == "OmbriInitDiag" || op == "OmbriGetTernFwInfo" ||
                   op == "OmbriReadFirmware") {
            // The read-back after the adapter's writes fails: a failed write,
            // reported where the jumper adapter's reminder stood, or else
            // after the adapter's writes.
            const std::string lines =
                (op == "OmbriReadFirmware" ? kRead : std::string()) + kJumperError + kNotRead;
            std::string next = kComplete; // what follows the adapter's writes
            for (size_t i = 0; i + 1 < used_.size(); i++) {
                next = used_[i]->key == key ? "\r\nSelecting " + Named(used_[i + 1]->key) : next;
            }
            expected = key == 'J' ? replaced(clean, kReminder, lines)
                                  : replaced(clean, next, lines + next);
            expected = replaced(expected, kComplete, kErrors);
            expected.exit_code = 0;
        }
        Restore();
        RunResult r = RunScenario(s, "any status=9 at=" + std::to_string(n));
        EXPECT_TRUE(NoRuntimeReport(r.err));
        EXPECT_EQ(r.err, "");
        EXPECT_TRUE(LibraryClosed(calls_));
        ASSERT_GE(calls_.size(), n);
        EXPECT_TRUE(calls_[n - 1].injected) << calls_[n - 1].line;
        EXPECT_EQ(r.exit_code, expected.exit_code);
        EXPECT_EQ(r.out, expected.out);
        EXPECT_EQ(ReadFileText(LogFileOf(work_)), expected.log);

        // Never a torn image, never a lost backup.
        for (const AdapterDef *a : used_) {
            std::string path = ServerDir() + "/" + a->nvram;
            if (ReadFileText(path) != ReadFileText(path + ".before")) {
                EXPECT_EQ(ShowNvram(path).exit_code, 0) << a->nvram << " is no whole image";
            }
        }
        for (const std::string &line : ReadLines(Journal())) {
            std::string name = line.substr(0, line.find(" => "));
            name = name.substr(name.rfind('/') + 1);
            const AdapterDef *a = AdapterOfName(name);
            EXPECT_EQ(ReadFileText(BackupDirOf(work_) + name),
                      ReadFileText(ServerDir() + "/" + a->nvram + ".before"))
                << name;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Runs, UpgradeRunSweepTest, ::testing::ValuesIn(SweptScenarios()),
                         RowName<Scenario>);

// ---------------------------------------------------------------------------
// Runs that end before the log is set up: console only (a silent run:
// standard error only), exit code 0, nothing written anywhere.

struct EarlyEnd {
    const char *name;
    bool as_other_user; // run natively as user nobody (needs root)
    // What lies where a work directory belongs before the run: "file", a
    // directory owned by "nobody", a "link" to a directory elsewhere, or a
    // directory of the given mode ("0770"); "lock-link": the run lock file is
    // a link to a file elsewhere.
    const char *premade;
    const char *at;   // that work directory, as the program prints it after the drive; "~"
                      // and what follows: the current folder and what lies below it
    int error;        // the code of the refusal; 0: the creation error of the platform
    bool wine_models; // the Windows build under Wine sees the same
    // The line printed instead of the refusal's "Error:" line ({W}: the current
    // folder, {D}: the system drive, as the program prints them), and the
    // option the run is given.
    const char *message = nullptr;
    const char *option = nullptr;
    bool silent = false; // -s: the message on standard error, nothing on standard output
};

void PrintTo(const EarlyEnd &e, std::ostream *os) {
    *os << e.name;
}

const EarlyEnd kEarlyEnds[] = {
    {"NoAdministrator", true, "", "", 0, false},
    {"BackupDirectoryNotCreatable", false, "file", "\\VLMSYSTEM", 0, true},
    // A work directory that someone else made or can write into is never used.
    {"WorkDirectoryOwnedByAnotherUser", false, "nobody", "\\VLMSYSTEM", 1307, true},
    {"WorkDirectoryIsALink", false, "link", "\\VLMSYSTEM", 1920, true},
    {"WorkDirectoryWritableByItsGroup", false, "0770", "\\VLMSYSTEM", 1336, false},
    {"LogDirectoryWritableByAll", false, "0757", "\\VLMSYSTEM\\log", 1336, true},
    {"BackupDirectoryIsALink", false, "link", "\\VLMSYSTEM\\NICFWBACKUP\\", 1920, true},
    {"RunLockIsALink", false, "lock-link", "\\VLMSYSTEM\\lanrefit.lock", 1920, false},
    {"SilentNoAdministrator", true, "", "", 0, false, nullptr, nullptr, true},
    {"SilentWorkDirectoryIsALink", false, "link", "\\VLMSYSTEM", 1920, true, nullptr, nullptr,
     true},
    // Where the run starts, and what it would start and read there, before any
    // of it is loaded, started or read.
    {"CurrentFolderWritableByAll", false, "0777", "~", 0, true,
     "Cannot trust {W}: an account other than Administrators, SYSTEM or the account running "
     "lanrefit may write to it.\r\n"},
    {"CatalogueFolderWritableByAll", false, "0757", "~\\NIC_FW", 0, true,
     "Cannot trust .\\NIC_FW: an account other than Administrators, SYSTEM or the account running "
     "lanrefit may write to it.\r\n",
     "-N"},
    {"CatalogueSubfolderOfAnotherOwner", false, "nobody", "~\\NIC_FW\\Boot_Code", 0, true,
     "Cannot trust .\\NIC_FW\\Boot_Code: its owner is not Administrators, SYSTEM or the account "
     "running lanrefit.\r\n",
     "-l"},
    {"CatalogueFileWritableByItsGroup", false, "0664", "~\\NIC_FW\\Boot_Code\\BC.config", 0, false,
     "Cannot trust .\\NIC_FW\\Boot_Code\\BC.config: an account other than Administrators, SYSTEM "
     "or the account running lanrefit may write to it.\r\n"},
    {"ImageFileIsALink", false, "link", "~\\NIC_FW\\Boot_Code\\bc504.bin", 0, false,
     "Cannot trust .\\NIC_FW\\Boot_Code\\bc504.bin: it is a link, junction or other reparse "
     "point.\r\n"},
    {"WriterToolOfAnotherOwner", false, "nobody", "~\\imgwriter", 0, true,
     "Cannot trust .\\imgwriter: its owner is not Administrators, SYSTEM or the account running "
     "lanrefit.\r\n"},
    // A restore reads no catalogue, but the site's jumper list beside it.
    {"JumperListOfAnotherOwnerInARestore", false, "nobody", "~\\NIC_FW\\Jumper.config", 0, true,
     "Cannot trust .\\NIC_FW\\Jumper.config: its owner is not Administrators, SYSTEM or the "
     "account running lanrefit.\r\n",
     "-p"},
    {"SilentWriterToolOfAnotherOwner", false, "nobody", "~\\imgwriter", 0, true,
     "Cannot trust .\\imgwriter: its owner is not Administrators, SYSTEM or the account running "
     "lanrefit.\r\n",
     nullptr, true},
    {"SilentNoCatalogueHere", false, "absent", "~\\NIC_FW", 0, true,
     "No image catalogue here: {W} has no NIC_FW folder. Start lanrefit in the folder that holds "
     "NIC_FW.\r\n",
     nullptr, true},
    // A run that reads the catalogue started in the wrong folder is a failure.
    {"NoCatalogueHere", false, "absent", "~\\NIC_FW", 0, true,
     "No image catalogue here: {W} has no NIC_FW folder. Start lanrefit in the folder that holds "
     "NIC_FW.\r\n",
     "-N"},
    // A system drive folder that others may write could have VLMSYSTEM swapped
    // while the run waits at a question: refused before anything is made.
    {"SystemDriveWritableByAll", false, "0777", "", 1336, false,
     "Error:1336 trying to create directory {D}\\VLMSYSTEM.\r\n"},
    {"SystemDriveOfAnotherOwner", false, "nobody", "", 1307, false,
     "Error:1307 trying to create directory {D}\\VLMSYSTEM.\r\n"},
};

class UpgradeRunEarlyEndTest : public SimE2eTest, public ::testing::WithParamInterface<EarlyEnd> {};

TEST_P(UpgradeRunEarlyEndTest, ConsoleOnly) {
    const EarlyEnd &e = GetParam();
    if (e.as_other_user && (IsWindowsTarget() || geteuid() != 0)) {
        GTEST_SKIP() << "runs natively as root only";
    }
    if (IsWindowsTarget() && !e.wine_models) {
        GTEST_SKIP() << "Wine does not model this; the native row holds the rule";
    }
    const std::string premade = e.premade;
    std::string vlmsystem = SystemDriveDir(work_) + "/VLMSYSTEM";
    // What the run would start and read where it starts: a catalogue with
    // one image, and the tool.
    RunHost("/bin/mkdir", RunSpec{{"-p", work_ + "/NIC_FW/Boot_Code"}, "", {}, ""});
    WriteFileText(work_ + "/NIC_FW/Boot_Code/BC.config", std::string(kBcA).substr(20) + "\r\n");
    WriteFileText(work_ + "/NIC_FW/Boot_Code/bc504.bin", "image");
    const std::string tool = work_ + (IsWindowsTarget() ? "/imgwriter.exe" : "/imgwriter");
    WriteFileText(tool, "#!/bin/sh\ntouch ran\n");
    chmod(tool.c_str(), 0755);
    std::string at = e.at[0] == '~' ? work_ + (e.at + 1) : SystemDriveDir(work_) + e.at;
    std::replace(at.begin(), at.end(), '\\', '/');
    while (at.back() == '/') {
        at.pop_back();
    }
    if (e.at[0] == '~' && at.find("/imgwriter") != std::string::npos) {
        at = tool;
    }
    if (premade == "absent") {
        RemoveTree(at);
    } else if (premade == "file") {
        WriteFileText(vlmsystem, "not a directory");
    } else if (!premade.empty()) {
        // Below VLMSYSTEM: the layout an earlier run left, one folder of it changed.
        if (at != vlmsystem && e.at[0] == '\\') {
            for (const char *dir : {"", "/log", "/NICFWBACKUP"}) {
                mkdir((vlmsystem + dir).c_str(), 0755);
            }
        }
        if (premade == "lock-link") {
            WriteFileText(work_ + "/elsewhere.lock", "");
            ASSERT_EQ(symlink((work_ + "/elsewhere.lock").c_str(), at.c_str()), 0);
        } else if (premade == "link") {
            std::string elsewhere = work_ + "/elsewhere";
            mkdir(elsewhere.c_str(), 0755);
            if (FileExists(at) && rmdir(at.c_str()) != 0) {
                // A file: the link points to a copy of it elsewhere.
                ASSERT_EQ(rename(at.c_str(), (elsewhere + "/file").c_str()), 0);
                elsewhere += "/file";
            }
            ASSERT_EQ(symlink(elsewhere.c_str(), at.c_str()), 0);
        } else {
            mkdir(at.c_str(), 0755);
            if (premade == "nobody") {
                ASSERT_EQ(chown(at.c_str(), 65534, 65534), 0) << "needs root";
            } else {
                mode_t mode = static_cast<mode_t>(std::stoi(premade, nullptr, 8));
                ASSERT_EQ(chmod(at.c_str(), mode), 0);
            }
        }
    }
    // Everything below the work directory, links followed, before the run.
    RunSpec find{{"-L", vlmsystem}, "", {}, ""};
    const std::string before = RunHost("/usr/bin/find", find).out;
    RunResult r;
    std::string expected;
    std::string drive = IsWindowsTarget() ? "C:" : SystemDriveDir(work_);
    std::vector<std::string> args;
    if (e.silent) {
        args.push_back("-s");
    }
    if (e.as_other_user) {
        RunSpec spec;
        spec.args = {"--reuid=65534", "--regid=65534", "--clear-groups", TargetProgram()};
        spec.args.insert(spec.args.end(), args.begin(), args.end());
        spec.env = {"SystemDrive=" + SystemDriveDir(work_)};
        r = RunHost("/usr/bin/setpriv", spec);
        expected = "Administrator privileges are requried to run this application.\r\n";
    } else if (premade == "lock-link") {
        r = Run(args);
        expected = "Cannot trust " + drive + e.at +
                   ": it is a link, junction or other reparse "
                   "point.\r\n";
    } else if (e.message != nullptr) {
        std::string here = IsWindowsTarget() ? "Z:" + work_ : work_;
        std::replace(here.begin(), here.end(), '/', IsWindowsTarget() ? '\\' : '/');
        if (e.option != nullptr) {
            args.push_back(e.option);
        }
        r = Run(args);
        expected = Replace(Replace(e.message, "{W}", here), "{D}", drive);
    } else if (e.error == 0) {
        r = Run(args);
        // The directory's parent is a file: ENOTDIR natively, "path not found" on Windows.
        expected = std::string("Error:") + (IsWindowsTarget() ? "3" : "20") +
                   " trying to create directory " + drive + "\\VLMSYSTEM\\NICFWBACKUP\\.\r\n";
    } else {
        r = Run(args);
        expected = "Error:" + std::to_string(e.error) + " trying to create directory " + drive +
                   e.at + ".\r\n";
    }
    EXPECT_EQ(r.out, e.silent ? "" : Console(expected));
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.err, e.silent ? Console(expected) : "");
    if (premade == "file") {
        EXPECT_EQ(ReadFileText(vlmsystem), "not a directory");
    } else if (premade.empty() || e.message != nullptr) {
        EXPECT_FALSE(FileExists(vlmsystem)) << "nothing is created";
    }
    EXPECT_FALSE(FileExists(work_ + "/ran")) << "the tool was started";
    EXPECT_EQ(RunHost("/usr/bin/find", find).out, before) << "nothing made or changed";
}

INSTANTIATE_TEST_SUITE_P(Runs, UpgradeRunEarlyEndTest, ::testing::ValuesIn(kEarlyEnds),
                         RowName<EarlyEnd>);

} // namespace
