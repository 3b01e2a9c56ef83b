// The upgrade runs' fixture: the adapter table, the layout of a scenario's
// server, catalogue and backups, its runs, and the silent two-adapter upgrade
// told as writes over the adapter table.
#include "upgrade_fixture.h"

#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

const AdapterDef *FindAdapter(char key) {
    for (const AdapterDef &a : kAdapters) {
        if (a.key == key) {
            return &a;
        }
    }
    return nullptr;
}

const AdapterDef *AdapterOfName(const std::string &name) {
    for (const AdapterDef &a : kAdapters) {
        if (name.compare(0, 12, a.mac) == 0) {
            return &a;
        }
    }
    return &kAdapters[0];
}

std::vector<std::string> OptionsOf(const AdapterDef &a) {
    std::vector<std::string> options = Words(a.options);
    // The MAC follows the identity, as simtool's own usage lists them.
    options.insert(options.begin() + 2, {"--mac", a.mac});
    return options;
}

std::string OptionOf(const AdapterDef &a, const std::string &option) {
    std::vector<std::string> options = OptionsOf(a);
    for (size_t i = 0; i + 1 < options.size(); i++) {
        if (options[i] == option) {
            return options[i + 1];
        }
    }
    return "";
}

std::string Replace(std::string text, const std::string &from, const std::string &to) {
    for (size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

void PrintTo(const Scenario &s, std::ostream *os) {
    *os << s.name;
}

namespace {

// The component kind of an image by its catalogue file.
std::string KindOf(const std::string &catalogue) {
    const char *kinds[][2] = {
        {"Boot_Code/BC.config", "bootcode"}, {"PXE/MFPXE.config", "pxe"},
        {"UMP/UMP.config", "ump"},           {"CLP/CLP.config", "clp"},
        {"iSCSI/iSCSI.config", "iscsi"},     {"iSCSI/iSCSI_stub.config", "iscsistub"}};
    for (auto &k : kinds) {
        if (catalogue == k[0]) {
            return k[1];
        }
    }
    return "";
}

// The version text that simtool OPTION sets on adapter KEY with DONE in effect.
std::string TextWith(char key, const std::string &option, unsigned done) {
    std::string text = OptionOf(*FindAdapter(key), option);
    for (int w = 0; w < kWriteCount; w++) {
        if ((done & (1u << w)) != 0 && kPlannedWrites[w].adapter == key &&
            option == kPlannedWrites[w].option) {
            text = kPlannedWrites[w].text;
        }
    }
    return text;
}

} // namespace

void UpgradeServerTest::Layout(const Scenario &s) {
    std::vector<std::string> lines;
    used_.clear();
    std::string dir = ServerDir();
    mkdir(dir.c_str(), 0755);
    for (const char *k = s.adapters; *k != '\0'; ++k) {
        const AdapterDef *a = FindAdapter(static_cast<char>(toupper(*k)));
        ASSERT_NE(a, nullptr);
        used_.push_back(a);
        std::string jumper = islower(*k) ? " jumper=protect" : *k == 'J' ? " jumper=enable" : "";
        lines.push_back("handle=" + std::to_string(a->handle) + " desc=\"" + a->desc + "\"" +
                        jumper + (*a->machine != '\0' ? " " : "") + a->machine +
                        " nvram=" + a->nvram);
    }
    server_ = MakeServer(dir, s.library, lines);
    for (const AdapterDef *a : used_) {
        ASSERT_TRUE(WriteNvram(server_, a->nvram, OptionsOf(*a)));
        ASSERT_TRUE(CopyFile(dir + "/" + a->nvram, dir + "/" + a->nvram + ".before"));
    }
    // The catalogue and its images, made for the identity each record names;
    // an empty NIC_FW where there are none.
    if (s.trouble != "no-catalogue") {
        mkdir((work_ + "/NIC_FW").c_str(), 0755);
    }
    // The catalogue and its images, made for the identity each record names.
    for (const std::string &record : s.catalogue) {
        // The site's list of jumper models is text: the record's rest is a line of it.
        const std::string list = "Jumper.config ";
        if (record.compare(0, list.size(), list) == 0) {
            std::string path = work_ + "/NIC_FW/Jumper.config";
            RunHost("/bin/mkdir", RunSpec{{"-p", work_ + "/NIC_FW"}, "", {}, ""});
            WriteFileText(path, ReadFileText(path) + record.substr(list.size()) + "\r\n");
            continue;
        }
        char file[64], identity[32], image[64], version[32];
        ASSERT_EQ(sscanf(record.c_str(), "%63s %31s %63s %31s", file, identity, image, version), 4);
        std::string catalogue = work_ + "/NIC_FW/" + file;
        std::string folder = catalogue.substr(0, catalogue.rfind('/'));
        RunHost("/bin/mkdir", RunSpec{{"-p", folder}, "", {}, ""});
        std::string text =
            ReadFileText(catalogue) + identity + " " + image + " " + version + "\r\n";
        WriteFileText(catalogue, text);
        // A name that Windows cannot hold (a double quote) stays a record only:
        // the program would refuse the catalogue it cannot examine.
        if (strchr(image, '"') == nullptr) {
            ASSERT_TRUE(WriteComponent(folder + "/" + image, KindOf(file), version, identity));
        }
    }
    if (s.writer_fault != "absent") {
        ASSERT_TRUE(InstallWriter(work_));
    }
    SaveImages(s);
    current_ = s;
    std::string work_dir = SystemDriveDir(work_) + "/VLMSYSTEM";
    if (s.trouble == "log-dir-is-file") {
        WriteFileText(work_dir + "/log", "not a directory");
    } else if (s.trouble == "log-is-directory") {
        RunHost("/bin/mkdir", RunSpec{{"-p", LogFileOf(work_)}, "", {}, ""});
    } else if (s.trouble == "backups-is-file") {
        RemoveTree(BackupDirOf(work_));
        WriteFileText(work_dir + "/NICFWBACKUP", "not a directory");
    } else if (s.trouble == "log-link" || s.trouble == "log-foreign") {
        RunHost("/bin/mkdir", RunSpec{{"-p", work_dir + "/log"}, "", {}, ""});
        std::string target = s.trouble == "log-link" ? work_ + "/root-only.txt" : LogFileOf(work_);
        WriteFileText(target, "an earlier run\r\n");
        if (s.trouble == "log-link") {
            chmod(target.c_str(), 0600);
            ASSERT_EQ(symlink(target.c_str(), LogFileOf(work_).c_str()), 0);
        } else {
            ASSERT_EQ(chown(target.c_str(), 12345, 12345), 0) << "needs root";
        }
    } else if (s.trouble == "swap-at-tool") {
        // Anyone may create in the drive's folder, but only the owner of an
        // entry may move it: the swap fails, and the run goes on in its own.
        chmod(SystemDriveDir(work_).c_str(), 01777);
        chmod(work_.c_str(), 0755);
        std::string tool = work_ + "/imgwriter";
        rename(tool.c_str(), (tool + ".real").c_str());
        WriteFileText(tool, "#!/bin/sh\n[ -e '" + tool +
                                ".once' ] || setpriv --reuid=12345 "
                                "--regid=12345 --clear-groups mv '" +
                                work_dir + "' '" + work_dir + ".mine' 2>/dev/null\ntouch '" + tool +
                                ".once'\nexec '" + tool + ".real' \"$@\"\n");
        chmod(tool.c_str(), 0755);
    } else if (s.trouble == "log-removed") {
        // The tool, wrapped: at its first start it removes the log, then writes.
        std::string tool = work_ + "/imgwriter";
        rename(tool.c_str(), (tool + ".real").c_str());
        WriteFileText(tool, "#!/bin/sh\n[ -e '" + tool + ".once' ] || rm -f '" + LogFileOf(work_) +
                                "'\ntouch '" + tool + ".once'\nexec '" + tool + ".real' \"$@\"\n");
        chmod(tool.c_str(), 0755);
    }
}

void UpgradeServerTest::SaveImages(const Scenario &s) {
    std::string backups = BackupDirOf(work_);
    RunHost("/bin/mkdir", RunSpec{{"-p", backups}, "", {}, ""});
    for (const SavedImage &saved : s.saved) {
        std::string path = backups + saved.name;
        if (saved.kind == SavedImage::TEXT) {
            WriteFileText(path, "not an image\r\n");
            saved_bytes_[saved.name] = "not an image\r\n";
            continue;
        }
        if (saved.kind == SavedImage::DIRECTORY) {
            mkdir(path.c_str(), 0755);
            continue;
        }
        std::vector<std::string> options = OptionsOf(*FindAdapter(saved.adapter));
        for (size_t i = 0; i + 1 < options.size(); i++) {
            options[i + 1] = options[i] == "--bootcode"  ? saved.bootcode
                             : options[i] == "--preboot" ? saved.preboot
                             : options[i] == "--pci" && saved.kind == SavedImage::OTHER_IDENTITY
                                 ? "1234-ABCD-5678-0002"
                                 : options[i + 1];
        }
        if (saved.kind == SavedImage::LINK) {
            std::string elsewhere = work_ + "/elsewhere";
            mkdir(elsewhere.c_str(), 0755);
            ASSERT_EQ(symlink((elsewhere + "/" + saved.name).c_str(), path.c_str()), 0);
            path = elsewhere + "/" + saved.name;
        }
        options.insert(options.begin(), {"nvram", path});
        ASSERT_TRUE(RunSimtool(options));
        if (saved.kind == SavedImage::FOREIGN) {
            ASSERT_EQ(chown(path.c_str(), 12345, 12345), 0) << "needs root";
        }
        saved_bytes_[saved.name] = ReadFileText(path);
    }
}

std::string UpgradeServerTest::Fill(const std::string &text) const {
    std::string printed = (IsWindowsTarget() ? std::string("C:") : SystemDriveDir(work_)) +
                          "\\VLMSYSTEM\\NICFWBACKUP\\";
    std::string lower = printed;
    for (char &c : lower) {
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    }
    return Replace(Replace(Replace(text, "{B}", BackupDirArg(work_)), "{P}", printed), "{p}",
                   lower);
}

void UpgradeServerTest::Restore() {
    for (const AdapterDef *a : used_) {
        CopyFile(NvramPath(a->key) + ".before", NvramPath(a->key));
    }
    std::remove(Journal().c_str());
    ResetSystemDrive(work_);
    SaveImages(current_);
}

std::vector<std::string> UpgradeServerTest::Env(const std::string &writer_fault,
                                                const std::string &library_faults) const {
    std::vector<std::string> env = SimEnv(server_, library_faults);
    env.push_back("IMGWRITER_JOURNAL=" + Journal());
    env.push_back("IMGWRITER_FAULT=" + writer_fault);
    return env;
}

RunResult UpgradeServerTest::RunScenario(const Scenario &s, const std::string &library_faults) {
    RunSpec spec;
    for (const std::string &a : s.args) {
        spec.args.push_back(Fill(a));
    }
    spec.input = s.input;
    spec.env = Env(s.writer_fault == "absent" ? "" : s.writer_fault,
                   library_faults.empty() ? s.library_fault : library_faults);
    std::remove(server_.call_log.c_str());
    RunResult r = Run(spec);
    calls_ = ReadCallLog(server_.call_log);
    return r;
}

RunResult UpgradeServerTest::RunSilent(const std::string &writer_fault) {
    Scenario s = current_;
    s.writer_fault = writer_fault;
    return RunScenario(s);
}

// ---------------------------------------------------------------------------
// The silent two-adapter upgrade.

const PlannedWrite kPlannedWrites[kWriteCount] = {
    {'A', "upgrade -bc", "Boot_Code/bc504.bin", "Boot Code", "Boot Code 5.0.3 to 5.0.4",
     "--bootcode", "5.0.4"},
    {'A', "upgrade -mba", "PXE/pxe833.bin", "PXE", "PXE 8.3.2 to 8.3.3", "--preboot", "8.3.3"},
    {'J', "upgrade -bc", "Boot_Code/bcj510.bin", "Boot Code", "Boot Code 5.0.3 to 5.1.0",
     "--bootcode", "5.1.0"},
};

Scenario SilentUpgrade(int extra_bc_records) {
    // Adapter A's further boot code records follow its first.
    std::vector<std::string> catalogue(1 + static_cast<size_t>(extra_bc_records), kBcA);
    catalogue.push_back(kPxeA);
    catalogue.push_back(kBcJ);
    return {"SilentUpgrade", "AJ", catalogue, {"-s"}, "", {}, 1, {}, {}};
}

std::string BannerLog() {
    return std::string(kStars) + kTitle + kStars;
}

std::string Named(char key) {
    return std::string(FindAdapter(key)->desc) + " MAC: " + FindAdapter(key)->mac;
}

std::string FoundLine(char key) {
    return "\r\nFound " + Named(key) + " \r\n";
}

std::string BackupName(char key, unsigned done) {
    std::string name = FindAdapter(key)->backup;
    for (const char *field : {"bootcode", "preboot", "ump"}) {
        name = Replace(name, std::string("{") + field + "}",
                       TextWith(key, std::string("--") + field, done));
    }
    return name;
}

std::string UpgradeServerTest::Command(int w, unsigned done) const {
    const PlannedWrite &p = kPlannedWrites[w];
    return std::string(FindAdapter(p.adapter)->mac) + " " + p.verb + " ./NIC_FW/" + p.image + " " +
           BackupDirArg(work_) + BackupName(p.adapter, done);
}

ExpectedRun UpgradeServerTest::Expected(unsigned done, unsigned effective, bool tool_absent,
                                        int stop_after, unsigned no_backup) const {
    // The selection pass: a component already at the catalogue's version is
    // not written, and says so in the log.
    std::string log = BannerLog();
    for (const AdapterDef *a : used_) {
        log += FoundLine(a->key);
        for (int w = 0; w < kWriteCount; w++) {
            const PlannedWrite &p = kPlannedWrites[w];
            if (p.adapter == a->key && (done & (1u << w)) != 0) {
                log += std::string("** WARNING ** - Installed ") + p.word +
                       " is the same version as selected " + p.word + ".\r\n";
            }
        }
    }
    // The write pass.
    const unsigned todo = kAllWrites & ~done;
    bool errors = false;
    int started = 0;
    for (const AdapterDef *a : used_) {
        const std::string named = Named(a->key);
        bool bootcode_written = false; // the adapter's boot code is among this run's writes
        bool verify = false;
        std::string differing; // the read-back's lines of the writes that did not take
        for (int w = 0; w < kWriteCount; w++) {
            const PlannedWrite &p = kPlannedWrites[w];
            bool ours = p.adapter == a->key && (todo & (1u << w)) != 0;
            bootcode_written = bootcode_written || (ours && p.option == std::string("--bootcode"));
        }
        for (int w = 0; w < kWriteCount; w++) {
            const PlannedWrite &p = kPlannedWrites[w];
            if (p.adapter != a->key || (todo & (1u << w)) == 0) {
                continue;
            }
            bool is_bootcode = p.option == std::string("--bootcode");
            if (is_bootcode || !bootcode_written) {
                log += "\r\nSelecting " + named + " \r\n";
            }
            log += std::string("Upgrading ") + p.line + "\r\n";
            log += "\r\n"; // the log is closed before the tool starts
            if (++started == stop_after) {
                return {Console(log), -1};
            }
            if (tool_absent || (no_backup & (1u << w)) != 0) {
                log += "ERROR: Upgrade of " + named + " cmd:(.\\imgwriter  " + Command(w, done) +
                       ") failed with internal error " + (tool_absent ? "14" : "15") + "\r\n";
                errors = true;
            }
            // Read back afterwards: on the jumper adapter every write, on the
            // other the writes that started and left their backup.
            bool compared = a->key == 'J' || (!tool_absent && (no_backup & (1u << w)) == 0);
            if (compared && (effective & (1u << w)) == 0) {
                differing += std::string("Verify failed: ") + p.word + " is " +
                             TextWith(a->key, p.option, effective) + ", expected " + p.text +
                             "\r\n";
            }
            verify = verify || a->key == 'J';
        }
        if (!differing.empty()) {
            log += "*** ERROR *** Firmware upgrade failed!\r\n" + differing;
            // Only its boot code is written on the jumper adapter.
            log += verify ? "Verify adapter jumper (J1) is in the write enable position\r\n" : "";
            errors = true;
        } else if (verify) {
            log +=
                "** WARNING ** Replace the adapter jumper (J1) to the Write Protect position\r\n";
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

std::string UpgradeServerTest::NvramPath(char key) const {
    return ServerDir() + "/" + FindAdapter(key)->nvram;
}

RunResult UpgradeServerTest::ShowNvram(const std::string &path) const {
    return RunHost(ToolsBuildDir() + "/simtool", RunSpec{{"show", path}, "", {}, ""});
}

std::string UpgradeServerTest::ImageWith(char key, unsigned done) const {
    std::string copy = NvramPath(key) + ".expected";
    if (!CopyFile(NvramPath(key) + ".before", copy)) {
        return "";
    }
    std::vector<std::string> args = {"edit", copy};
    for (const char *option : {"--bootcode", "--preboot", "--ump"}) {
        args.push_back(option);
        args.push_back(TextWith(key, option, done));
    }
    if (!RunSimtool(args)) {
        return "";
    }
    std::string bytes = ReadFileText(copy);
    std::remove(copy.c_str());
    return bytes;
}

::testing::AssertionResult UpgradeServerTest::NvramHolds(unsigned done) const {
    for (const AdapterDef *a : used_) {
        if (ReadFileText(NvramPath(a->key)) != ImageWith(a->key, done)) {
            return ::testing::AssertionFailure()
                   << a->nvram << " does not hold exactly the writes " << done << ":\n"
                   << ShowNvram(NvramPath(a->key)).out;
        }
    }
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult
UpgradeServerTest::BackupsAre(const std::map<std::string, std::string> &backups) const {
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
