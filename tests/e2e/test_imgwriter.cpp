// The simulated writer tool of the target build (native, or the Windows one
// under Wine), one scenario per row: the NVRAM image before, the file given as
// IMAGE, a file already at BACKUP, the command line and injected fault; then
// the exit code, the journal line, the NVRAM image after and the backup.
#include "sim_server.h"

#include <dirent.h>

namespace {

// What must lie at BACKUP after the run.
enum BackupAfter {
    BACKUP_NONE,   // nothing
    BACKUP_BEFORE, // the NVRAM image as it was before the run
    BACKUP_KEPT,   // the file that was there before, untouched
};

constexpr int kCrash = 1000; // an abnormal end, whatever the platform reports for it

struct WriterCase {
    const char *name;
    std::string nvram;   // simtool nvram options of the adapter's image before the run
    std::string adapter; // more keys of the adapter's machine file line
    std::string image;   // "component OPTIONS", "nvram OPTIONS" or "text:CONTENT" at ./image.bin
    std::string kept;    // simtool nvram options of a file already at BACKUP, or empty
    std::string args;    // the command line after the program
    std::string fault;   // IMGWRITER_FAULT
    int exit_code;
    std::string outcome; // the journal line after "ARGS => "
    std::string after;   // simtool nvram options of the image after the run; empty: unchanged
    BackupAfter backup;
};

const std::string kId = "--pci 1234-ABCD-5678-0001 --mac 0A1B2C3D4E5F ";
const std::string kOtherMac = "--pci 1234-ABCD-5678-0001 --mac 0A1B2C3D4E60 ";
const std::string kPxe = kId + "--bootcode 5.0.3 --preboot 8.3.2 --entry 1:pxe";
const std::string kBare = kId + "--bootcode 5.0.3 --entry 2:pxe";
const std::string kFiles = " ./image.bin ./backup/b.bin";
const std::string kBc = "0A1B2C3D4E5F upgrade -bc" + kFiles;
const std::string kMba = "0A1B2C3D4E5F upgrade -mba" + kFiles;
const std::string kForce = "0A1B2C3D4E5F upgrade -F -mba" + kFiles;
const std::string kBc504 = "component --kind bootcode --version 5.0.4 --pci 1234-ABCD-5678-0001";
const std::string kAfterBc = kId + "--bootcode 5.0.4 --preboot 8.3.2 --entry 1:pxe";
const std::string kClp = "component --kind clp --version 3.1.4";

const std::vector<WriterCase> kCases = {
    // clang-format off
    {"BootCode", kPxe, "", kBc504, "", kBc, "", 0, "written", kAfterBc, BACKUP_BEFORE},
    {"DebugFirst", kPxe, "", kBc504, "", "-debug " + kBc, "", 0, "written", kAfterBc, BACKUP_BEFORE},
    {"Ump", kPxe, "", "component --kind ump --version 1.2.0", "", "0A1B2C3D4E5F upgrade -ump" + kFiles, "",
     0, "written", kPxe + " --ump 1.2.0", BACKUP_BEFORE},
    {"MbaSameKindAfterClp", kId + "--bootcode 5.0.3 --preboot 8.3.2 --entry 1:clp --entry 1:pxe", "",
     "component --kind pxe --version 8.3.6", "", kMba, "", 0, "written",
     kId + "--bootcode 5.0.3 --preboot 8.3.6 --entry 1:clp --entry 1:pxe", BACKUP_BEFORE},
    {"MbaKindChange", kPxe, "", kClp, "", kMba, "", 8,
     "refused: installed pre-boot image is pxe, not clp", "", BACKUP_BEFORE},
    {"MbaNothingInstalled", kBare, "", kClp, "", kMba, "", 8, "refused: no pre-boot image installed", "",
     BACKUP_BEFORE},
    {"MbaStub", kPxe, "", "component --kind iscsistub --version 0.1.0", "", kMba, "", 8,
     "refused: kind iscsistub does not fit upgrade -mba", "", BACKUP_BEFORE},
    {"ForceInstallsInFreeSlot", kBare, "", kClp, "", kForce, "", 0, "written",
     kId + "--bootcode 5.0.3 --preboot 3.1.4 --entry 2:pxe --entry 1:clp", BACKUP_BEFORE},
    {"ForceOverOtherKind", kPxe, "", kClp, "", kForce, "", 0, "written",
     kId + "--bootcode 5.0.3 --preboot 3.1.4 --entry 1:clp", BACKUP_BEFORE},
    {"ForceStub", kPxe, "", "component --kind iscsistub --version 0.1.0", "", kForce, "", 0, "written",
     kId + "--bootcode 5.0.3 --preboot 0.1.0 --entry 1:iscsi", BACKUP_BEFORE},
    {"Restore", kAfterBc, "", "nvram " + kId + "--bootcode 5.0.1 --ump 1.1.0 --entry 1:clp", "",
     "0A1B2C3D4E5F restore" + kFiles, "", 0, "written", kId + "--bootcode 5.0.1 --ump 1.1.0 --entry 1:clp",
     BACKUP_BEFORE},
    {"RestoreOtherAdapter", kPxe, "", "nvram " + kOtherMac + "--bootcode 5.0.1", "",
     "0A1B2C3D4E5F restore" + kFiles, "", 8, "refused: restore image is of another adapter", "",
     BACKUP_BEFORE},
    {"BackupKept", kPxe, "", kBc504, kId + "--bootcode 5.0.1 --entry 1:pxe", kBc, "", 0, "written",
     kAfterBc, BACKUP_KEPT},
    {"BackupOfOtherAdapter", kPxe, "", kBc504, kOtherMac + "--bootcode 5.0.1", kBc, "", 7,
     "backup: existing file is of another adapter", "", BACKUP_KEPT},
    {"BackupDirectoryMissing", kPxe, "", kBc504, "", "0A1B2C3D4E5F upgrade -bc ./image.bin ./none/b.bin",
     "", 7, "backup: cannot save the backup: cannot create a temporary file beside it", "", BACKUP_NONE},
    {"OtherIdentity", kPxe, "", "component --kind bootcode --version 5.0.4 --pci 1234-ABCD-5678-0002", "",
     kBc, "", 8, "refused: image is for 1234-ABCD-5678-0002, adapter is 1234-ABCD-5678-0001", "",
     BACKUP_BEFORE},
    {"MalformedComponent", kPxe, "", "text:SIM-COMPONENT", "", kBc, "", 8,
     "refused: malformed component: not 192 bytes", "", BACKUP_BEFORE},
    {"JumperProtect", kPxe, "jumper=protect", kBc504, "", kBc, "", 0, "protected", "", BACKUP_BEFORE},
    {"JumperEnable", kPxe, "jumper=enable", kBc504, "", kBc, "", 0, "written", kAfterBc, BACKUP_BEFORE},
    {"CrashAfterWrite", kPxe, "", kBc504, "", kBc, "crash=after", kCrash, "crashed after write", kAfterBc,
     BACKUP_BEFORE},
    {"CrashBeforeWrite", kPxe, "", kBc504, "", kBc, "crash=before", kCrash, "crashed before write", "",
     BACKUP_BEFORE},
    {"FaultOnAnotherRun", kPxe, "", kBc504, "", kBc, "crash=before at=2", 0, "written", kAfterBc,
     BACKUP_BEFORE},
    {"InjectedExit", kPxe, "", kBc504, "", kBc, "delay=20; exit=42", 42, "written, exit 42", kAfterBc,
     BACKUP_BEFORE},
    {"InjectedRefusal", kPxe, "", kBc504, "", kBc, "refuse", 8, "refused: injected", "", BACKUP_BEFORE},
    {"InjectedBackupFailure", kPxe, "", kBc504, "", kBc, "nobackup", 7,
     "backup: cannot save the backup (injected)", "", BACKUP_NONE},
    {"UnknownMac", kPxe, "", kBc504, "", "0A1B2C3D4E60 upgrade -bc" + kFiles, "", 5,
     "unknown: no adapter with MAC 0A1B2C3D4E60", "", BACKUP_NONE},
    {"UnknownVerb", kPxe, "", kBc504, "", "0A1B2C3D4E5F upgrade -xyz" + kFiles, "", 2,
     "usage: unknown verb 'upgrade -xyz'", "", BACKUP_NONE},
    // clang-format on
};

// Writes FILE with "simtool VERB FILE OPTIONS..." ("text:..." writes the text).
bool MakeFile(const std::string &file, const std::string &spec) {
    if (spec.compare(0, 5, "text:") == 0) {
        WriteFileText(file, spec.substr(5));
        return true;
    }
    std::vector<std::string> words = Words(spec);
    words.insert(words.begin() + 1, file);
    return RunSimtool(words);
}

// Files of a directory whose names hold ".tmp" (left-over temporary files).
std::vector<std::string> TempFiles(const std::string &dir) {
    std::vector<std::string> found;
    if (DIR *d = opendir(dir.c_str())) {
        while (dirent *e = readdir(d)) {
            if (std::string(e->d_name).find(".tmp") != std::string::npos) {
                found.push_back(dir + "/" + e->d_name);
            }
        }
        closedir(d);
    }
    return found;
}

class ImgwriterTest : public E2eTest, public ::testing::WithParamInterface<WriterCase> {};

TEST_P(ImgwriterTest, WritesOnlyAfterTheBackup) {
    const WriterCase &c = GetParam();
    SimServer server = MakeServer(work_ + "/server", "7.6.1",
                                  {"handle=4097 desc=\"Port 1\" nvram=port1.nvram " + c.adapter});
    ASSERT_TRUE(WriteNvram(server, "port1.nvram", Words(c.nvram)));
    ASSERT_TRUE(MakeFile(work_ + "/image.bin", c.image));
    std::string backup = work_ + "/backup/b.bin";
    RunHost("/bin/mkdir", RunSpec{{work_ + "/backup"}, "", {}, ""});
    if (!c.kept.empty()) {
        ASSERT_TRUE(MakeFile(backup, "nvram " + c.kept));
    }
    const std::string nvram = server.dir + "/port1.nvram";
    const std::string before = ReadFileText(nvram);
    const std::string kept = ReadFileText(backup);
    const std::string journal = work_ + "/journal.log";

    const std::string writer = IsWindowsTarget() ? "/imgwriter.exe" : "/imgwriter";
    RunResult r = RunTarget(TargetBuildDir() + writer,
                            RunSpec{Words(c.args),
                                    "",
                                    {"OMBRI_SIM_MACHINE=" + server.machine,
                                     "IMGWRITER_JOURNAL=" + journal, "IMGWRITER_FAULT=" + c.fault},
                                    work_});

    int crash_code = IsWindowsTarget() ? 3 : -1;
    EXPECT_EQ(r.exit_code, c.exit_code == kCrash ? crash_code : c.exit_code) << r.err;
    EXPECT_EQ(ReadFileText(journal), c.args + " => " + c.outcome + "\n");
    std::string expected = before;
    if (!c.after.empty()) {
        ASSERT_TRUE(WriteNvram(server, "expected.nvram", Words(c.after)));
        expected = ReadFileText(server.dir + "/expected.nvram");
    }
    EXPECT_TRUE(ReadFileText(nvram) == expected) << "NVRAM image after the run";
    switch (c.backup) {
    case BACKUP_NONE:
        EXPECT_FALSE(FileExists(backup));
        break;
    case BACKUP_BEFORE:
        EXPECT_TRUE(ReadFileText(backup) == before) << "backup is the image before the run";
        break;
    case BACKUP_KEPT:
        EXPECT_TRUE(ReadFileText(backup) == kept) << "the file at BACKUP was replaced";
        break;
    }
    EXPECT_EQ(TempFiles(server.dir), std::vector<std::string>());
    EXPECT_EQ(TempFiles(work_ + "/backup"), std::vector<std::string>());
}

void PrintTo(const WriterCase &c, std::ostream *os) {
    *os << c.name;
}

INSTANTIATE_TEST_SUITE_P(imgwriter, ImgwriterTest, ::testing::ValuesIn(kCases),
                         RowName<WriterCase>);

} // namespace
