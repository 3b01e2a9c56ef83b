// Fuzz target: the versions a backup file's name records. After an even first
// byte, the rest of the input up to its first NUL is a file name: the reading
// agrees with a plain reading of the name's grammar (fields split at '.', the
// MAC field skipped, then groups of tag+number, number, number, the first
// group boot code's), which makes it deterministic too, and touches nothing of
// the plan but the five version fields, those only when it reads versions.
// After an odd first byte, the rest gives an adapter's installed versions:
// the backup name the writers give it reads back as those versions.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "adapter/firmware.h"
#include "base/runflags.h"
#include "restore/backup_versions.h"
#include "select/plan.h"
#include "write/write.h"

#include "input_reader.h"

namespace {

// The tags in the order of the plan's fields below.
const char *const kTags[] = {"bc", "p", "c", "u", "iS"};
Version UpgradePlan::*const kFields[] = {&UpgradePlan::BootCodeVersion, &UpgradePlan::PxeVersion,
                                         &UpgradePlan::ClpVersion, &UpgradePlan::UmpVersion,
                                         &UpgradePlan::IscsiVersion};

// One or more ASCII digits, at most 4294967295 (leading zeros allowed).
bool Number(const std::string &text, uint32_t *value) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    uint64_t v = 0;
    for (char c : text) {
        v = v * 10 + static_cast<uint64_t>(c - '0');
        if (v > 0xFFFFFFFFu) {
            return false;
        }
    }
    *value = static_cast<uint32_t>(v);
    return true;
}

// The grammar read plainly: 1 with versions set (zero where no group), or 0.
int Expected(const std::string &name, Version versions[5]) {
    std::vector<std::string> fields(1);
    for (char c : name) {
        if (c == '.') {
            fields.emplace_back();
        } else {
            fields.back() += c;
        }
    }
    int groups = 0;
    for (size_t i = 1; i + 2 < fields.size(); i += 3) {
        int row = -1;
        Version v{};
        for (int t = 0; t < 5 && row < 0; ++t) {
            const size_t length = strlen(kTags[t]);
            if (fields[i].compare(0, length, kTags[t]) == 0 &&
                Number(fields[i].substr(length), &v.major)) {
                row = t;
            }
        }
        if (row < 0 || !Number(fields[i + 1], &v.minor) || !Number(fields[i + 2], &v.build)) {
            break;
        }
        if (groups == 0 && row != 0) {
            return 0;
        }
        versions[row] = v;
        ++groups;
    }
    return groups > 0;
}

bool Same(const Version &a, const Version &b) {
    return a.major == b.major && a.minor == b.minor && a.build == b.build;
}

void CheckName(const std::string &name) {
    UpgradePlan plan, expected_plan;
    memset(&plan, 0x5A, sizeof plan);
    memcpy(&expected_plan, &plan, sizeof plan);
    Version versions[5] = {};
    const int expected = Expected(name, versions);
    if (ParseBackupVersions(name.c_str(), plan) != expected) {
        abort();
    }
    if (expected) {
        for (int t = 0; t < 5; ++t) {
            expected_plan.*kFields[t] = versions[t];
        }
    }
    if (memcmp(&plan, &expected_plan, sizeof plan) != 0) {
        abort();
    }
}

// Versions are printed as signed numbers: those of 31 bits are the ones the
// names can carry.
Version Take31(Reader &r) {
    Version v;
    v.major = Take(r, 4) & 0x7FFFFFFF;
    v.minor = Take(r, 4) & 0x7FFFFFFF;
    v.build = Take(r, 4) & 0x7FFFFFFF;
    return v;
}

Version8 Take8(Reader &r) {
    Version8 v;
    v.major = static_cast<uint8_t>(Take(r, 1));
    v.minor = static_cast<uint8_t>(Take(r, 1));
    v.build = static_cast<uint8_t>(Take(r, 1));
    return v;
}

void CheckRoundTrip(Reader r) {
    NicFwInfo fw{};
    fw.Flags = Take(r, 1) & (FW_HAS_PXE | FW_HAS_CLP | FW_HAS_UMP | FW_HAS_ISCSI);
    uint8_t mac[6];
    for (uint8_t &byte : mac) {
        byte = static_cast<uint8_t>(Take(r, 1));
    }
    snprintf(fw.MacText, sizeof fw.MacText, "%02X%02X%02X%02X%02X%02X", unsigned{mac[0]},
             unsigned{mac[1]}, unsigned{mac[2]}, unsigned{mac[3]}, unsigned{mac[4]},
             unsigned{mac[5]});
    fw.BootCodeVersion = Take31(r);
    fw.PxeVersion = Take31(r);
    fw.ClpVersion = Take8(r);
    fw.UmpVersion = Take8(r);
    fw.IscsiVersion = Take8(r);
    NicFwTable.assign(1, fw);
    CurrentNic = 0;
    BackupDir[0] = '\0';
    char name[PLAT_PATH_MAX];
    UpgradePlan plan{};
    if (!BackupFileName(name, sizeof name) || !ParseBackupVersions(name, plan)) {
        abort();
    }
    const Version none{};
    if (!Same(plan.BootCodeVersion, fw.BootCodeVersion) ||
        !Same(plan.PxeVersion, (fw.Flags & FW_HAS_PXE) != 0 ? fw.PxeVersion : none) ||
        !Same(plan.ClpVersion, (fw.Flags & FW_HAS_CLP) != 0 ? Widen(fw.ClpVersion) : none) ||
        !Same(plan.UmpVersion, (fw.Flags & FW_HAS_UMP) != 0 ? Widen(fw.UmpVersion) : none) ||
        !Same(plan.IscsiVersion, (fw.Flags & FW_HAS_ISCSI) != 0 ? Widen(fw.IscsiVersion) : none)) {
        abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) {
        return 0;
    }
    if ((data[0] & 1) == 0) {
        const char *text = reinterpret_cast<const char *>(data + 1);
        CheckName(std::string(text, strnlen(text, size - 1)));
    } else {
        CheckRoundTrip(Reader{data, size, 1});
    }
    return 0;
}
