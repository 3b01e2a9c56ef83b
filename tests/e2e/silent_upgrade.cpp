// The two-adapter silent upgrade of the writer-fault and interruption tests:
// its layout, and what a run of it logs, asks of the tool and leaves behind.
#include "silent_upgrade.h"

#include <cstdio>
#include <dirent.h>
#include <set>
#include <sys/stat.h>

namespace {

struct AdapterRow {
    char key;
    const char *machine; // the machine file's adapter line, without nvram=
    const char *desc;
    const char *mac;
    const char *nvram;
    // simtool nvram options besides the three version texts
    std::vector<std::string> identity;
    const char *bootcode, *preboot, *ump; // the version texts before the run
    // The backup name, with {bootcode} {preboot} {ump} for the texts at the run's start.
    const char *backup;
};

const AdapterRow kAdapters[] = {
    {'A',
     "handle=4097 desc=\"Gigabit Server Adapter (port 1)\"",
     "Gigabit Server Adapter (port 1)",
     "0A1B2C3D4E5F",
     "a.nvram",
     {"--pci", "1234-ABCD-5678-0001", "--mac", "0A1B2C3D4E5F", "--entry", "1:pxe"},
     "5.0.3",
     "8.3.2",
     "1.2.0",
     "0A1B2C3D4E5F.bc{bootcode}.p{preboot}.u{ump}.bin"},
    {'J',
     "handle=4100 desc=\"Jumper Server Adapter\" jumper=enable",
     "Jumper Server Adapter",
     "0A1B2C3D4E62",
     "j.nvram",
     {"--pci", "1234-BEEF-5678-0011", "--mac", "0A1B2C3D4E62", "--entry", "1:iscsi"},
     "5.0.3",
     "2.1.0",
     "1.0.0",
     "0A1B2C3D4E62.bc{bootcode}.u{ump}.iS{preboot}.bin"},
};

// Catalogue records: "<catalogue file> <identity> <image> <version> <kind>".
const char *const kCatalogue[][5] = {
    {"Boot_Code/BC.config", "1234-ABCD-5678-0001", "bc504.bin", "5.0.4", "bootcode"},
    {"PXE/MFPXE.config", "1234-ABCD-5678-0001", "pxe833.bin", "8.3.3", "pxe"},
    {"Boot_Code/BC.config", "1234-BEEF-5678-0011", "bcj510.bin", "5.1.0", "bootcode"},
};

const char kStars[] = "*******************************************************************\r\n";
const char kTitle[] = "Velmar Multi-Function Gigabit Server Adapter Firmware Upgrade Utility\r\n";

const AdapterRow &Adapter(char key) {
    return key == 'A' ? kAdapters[0] : kAdapters[1];
}

std::string Replace(std::string text, const std::string &from, const std::string &to) {
    for (size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

// The version text that simtool OPTION sets on adapter KEY with DONE in effect.
std::string TextWith(char key, const std::string &option, unsigned done) {
    const AdapterRow &a = Adapter(key);
    std::string text = option == "--bootcode"  ? a.bootcode
                       : option == "--preboot" ? a.preboot
                                               : a.ump;
    for (int w = 0; w < kWriteCount; w++) {
        if ((done & (1u << w)) != 0 && kPlannedWrites[w].adapter == key &&
            option == kPlannedWrites[w].option) {
            text = kPlannedWrites[w].text;
        }
    }
    return text;
}

std::vector<std::string> TextOptions(char key, unsigned done) {
    std::vector<std::string> options;
    for (const char *option : {"--bootcode", "--preboot", "--ump"}) {
        options.push_back(option);
        options.push_back(TextWith(key, option, done));
    }
    return options;
}

} // namespace

const PlannedWrite kPlannedWrites[kWriteCount] = {
    {'A', "upgrade -bc", "Boot_Code/bc504.bin", "Boot Code", "Boot Code 5.0.3 to 5.0.4",
     "--bootcode", "5.0.4"},
    {'A', "upgrade -mba", "PXE/pxe833.bin", "PXE", "PXE 8.3.2 to 8.3.3", "--preboot", "8.3.3"},
    {'J', "upgrade -bc", "Boot_Code/bcj510.bin", "Boot Code", "Boot Code 5.0.3 to 5.1.0",
     "--bootcode", "5.1.0"},
};

std::string BannerLog() {
    return std::string(kStars) + kTitle + kStars;
}

std::string FoundLine(char key) {
    const AdapterRow &a = Adapter(key);
    return std::string("\r\nFound ") + a.desc + " MAC: " + a.mac + " \r\n";
}

void SilentUpgradeTest::LayOut(int extra_bc_records) {
    std::string dir = ServerDir();
    mkdir(dir.c_str(), 0755);
    std::vector<std::string> lines;
    for (const AdapterRow &a : kAdapters) {
        lines.push_back(std::string(a.machine) + " nvram=" + a.nvram);
    }
    server_ = MakeServer(dir, "7.6.1", lines);
    for (const AdapterRow &a : kAdapters) {
        std::vector<std::string> options = a.identity;
        for (const std::string &o : TextOptions(a.key, 0)) {
            options.push_back(o);
        }
        ASSERT_TRUE(WriteNvram(server_, a.nvram, options));
        ASSERT_TRUE(CopyFile(NvramPath(a.key), NvramPath(a.key) + ".before"));
    }
    for (const auto &record : kCatalogue) {
        const bool first = &record == &kCatalogue[0];
        std::string catalogue = work_ + "/NIC_FW/" + record[0];
        std::string folder = catalogue.substr(0, catalogue.rfind('/'));
        RunHost("/bin/mkdir", RunSpec{{"-p", folder}, "", {}, ""});
        std::string line = std::string(record[1]) + " " + record[2] + " " + record[3] + "\r\n";
        // Adapter A's further boot code records follow its first.
        int copies = first ? 1 + extra_bc_records : 1;
        std::string text = ReadFileText(catalogue);
        for (int i = 0; i < copies; i++) {
            text += line;
        }
        WriteFileText(catalogue, text);
        ASSERT_TRUE(WriteComponent(folder + "/" + record[2], record[4], record[3], record[1]));
    }
    ASSERT_TRUE(InstallWriter(work_));
}

void SilentUpgradeTest::Restore() {
    for (const AdapterRow &a : kAdapters) {
        CopyFile(NvramPath(a.key) + ".before", NvramPath(a.key));
    }
    std::remove(Journal().c_str());
    ResetSystemDrive(work_);
}

std::vector<std::string> SilentUpgradeTest::Env(const std::string &writer_fault) const {
    std::vector<std::string> env = SimEnv(server_);
    env.push_back("IMGWRITER_JOURNAL=" + Journal());
    env.push_back("IMGWRITER_FAULT=" + writer_fault);
    return env;
}

RunResult SilentUpgradeTest::RunSilent(const std::string &writer_fault) {
    RunSpec spec;
    spec.args = {"-s"};
    spec.env = Env(writer_fault);
    std::remove(server_.call_log.c_str());
    RunResult r = Run(spec);
    calls_ = ReadCallLog(server_.call_log);
    return r;
}

std::string SilentUpgradeTest::BackupName(char key, unsigned done) const {
    std::string name = Adapter(key).backup;
    for (const char *field : {"bootcode", "preboot", "ump"}) {
        name = Replace(name, std::string("{") + field + "}",
                       TextWith(key, std::string("--") + field, done));
    }
    return name;
}

std::string SilentUpgradeTest::Command(int w, unsigned done) const {
    const PlannedWrite &p = kPlannedWrites[w];
    return std::string(Adapter(p.adapter).mac) + " " + p.verb + " ./NIC_FW/" + p.image + " " +
           BackupDirArg(work_) + BackupName(p.adapter, done);
}

ExpectedRun SilentUpgradeTest::Expected(unsigned done, unsigned effective, bool tool_absent,
                                        int stop_after, unsigned no_backup) const {
    // The selection pass: a component already at the catalogue's version is
    // not written, and says so in the log.
    std::string log = BannerLog();
    for (const AdapterRow &a : kAdapters) {
        log += FoundLine(a.key);
        for (int w = 0; w < kWriteCount; w++) {
            const PlannedWrite &p = kPlannedWrites[w];
            if (p.adapter == a.key && (done & (1u << w)) != 0) {
                log += std::string("** WARNING ** - Installed ") + p.word +
                       " is the same version as selected " + p.word + ".\r\n";
            }
        }
    }
    // The write pass.
    const unsigned todo = kAllWrites & ~done;
    bool errors = false;
    int started = 0;
    for (const AdapterRow &a : kAdapters) {
        bool bootcode_written = false; // the adapter's boot code is among this run's writes
        bool verify = false;
        for (int w = 0; w < kWriteCount; w++) {
            const PlannedWrite &p = kPlannedWrites[w];
            bool ours = p.adapter == a.key && (todo & (1u << w)) != 0;
            bootcode_written = bootcode_written || (ours && p.option == std::string("--bootcode"));
        }
        for (int w = 0; w < kWriteCount; w++) {
            const PlannedWrite &p = kPlannedWrites[w];
            if (p.adapter != a.key || (todo & (1u << w)) == 0) {
                continue;
            }
            bool is_bootcode = p.option == std::string("--bootcode");
            if (is_bootcode || !bootcode_written) {
                log += std::string("\r\nSelecting ") + a.desc + " MAC: " + a.mac + " \r\n";
            }
            log += std::string("Upgrading ") + p.line + "\r\n";
            log += "\r\n"; // the log is closed before the tool starts
            if (++started == stop_after) {
                return {Console(log), -1};
            }
            if (tool_absent || (no_backup & (1u << w)) != 0) {
                log += std::string("ERROR: Upgrade of ") + a.desc + " MAC: " + a.mac +
                       " cmd:(.\\imgwriter  " + Command(w, done) + ") failed with internal error " +
                       (tool_absent ? "14" : "15") + "\r\n";
                errors = true;
            }
            // Boot code and PXE on the jumper adapter are read back afterwards.
            verify = verify || a.key == 'J';
        }
        if (verify) {
            // Only its boot code is written here: major and minor are compared.
            if ((effective & (1u << 2)) != 0) {
                log += "** WARNING ** Replace the adapter jumper (J1) to the Write Protect "
                       "position\r\n";
            } else {
                log += "*** ERROR *** Firmware upgrade failed!\r\n"
                       "Verify adapter jumper (J1) is in the write enable position\r\n";
                errors = true;
            }
        }
    }
    int exit_code = 3;
    if (errors) {
        log += "\nNIC firmware update completed with errors. \r\n";
        exit_code = 0;
    } else if (todo != 0) {
        log += "\nNIC firmware update complete.\r\n";
        exit_code = 1;
    }
    log += "\r\n"; // closed at the end of the run
    return {Console(log), exit_code};
}

std::string SilentUpgradeTest::NvramPath(char key) const {
    return ServerDir() + "/" + Adapter(key).nvram;
}

std::string SilentUpgradeTest::ImageWith(char key, unsigned done) const {
    std::string copy = NvramPath(key) + ".expected";
    if (!CopyFile(NvramPath(key) + ".before", copy)) {
        return "";
    }
    std::vector<std::string> args = {"edit", copy};
    for (const std::string &o : TextOptions(key, done)) {
        args.push_back(o);
    }
    if (!RunSimtool(args)) {
        return "";
    }
    std::string bytes = ReadFileText(copy);
    std::remove(copy.c_str());
    return bytes;
}

::testing::AssertionResult SilentUpgradeTest::NvramHolds(unsigned done) const {
    for (const AdapterRow &a : kAdapters) {
        if (ReadFileText(NvramPath(a.key)) != ImageWith(a.key, done)) {
            RunSpec spec;
            spec.args = {"show", NvramPath(a.key)};
            return ::testing::AssertionFailure()
                   << a.nvram << " does not hold exactly the writes " << done << ":\n"
                   << RunHost(ToolsBuildDir() + "/simtool", spec).out;
        }
    }
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult
SilentUpgradeTest::BackupsAre(const std::map<std::string, std::string> &backups) const {
    std::string dir = BackupDirOf(work_);
    std::set<std::string> names;
    if (DIR *d = opendir(dir.c_str())) {
        for (struct dirent *e = readdir(d); e != nullptr; e = readdir(d)) {
            if (e->d_name[0] != '.') {
                names.insert(e->d_name);
            }
        }
        closedir(d);
    }
    std::string listing, expected;
    for (const std::string &name : names) {
        listing += name + "\n";
    }
    for (const auto &b : backups) {
        expected += b.first + "\n";
    }
    if (listing != expected) {
        return ::testing::AssertionFailure() << "backup directory holds\n"
                                             << listing << "expected\n"
                                             << expected;
    }
    for (const auto &b : backups) {
        if (ReadFileText(dir + b.first) != b.second) {
            return ::testing::AssertionFailure() << "backup " << b.first << " differs";
        }
    }
    return ::testing::AssertionSuccess();
}
