// The versions recorded in a backup file's name: a walk over its fields, one
// table of tags.
#include "restore/backup_versions.h"

#include <cstdint>
#include <cstring>

namespace {

struct TagRow {
    const char *tag;
    Version UpgradePlan::*field;
    uint32_t found_bit; // the plan's bit of the component
};

const TagRow kTags[] = {
    {"bc", &UpgradePlan::BootCodeVersion, PLAN_BC_FOUND},
    {"p", &UpgradePlan::PxeVersion, PLAN_PXE_FOUND},
    {"c", &UpgradePlan::ClpVersion, PLAN_CLP_FOUND},
    {"u", &UpgradePlan::UmpVersion, PLAN_UMP_FOUND},
    {"iS", &UpgradePlan::IscsiVersion, PLAN_ISCSI_FOUND},
};
constexpr size_t TAG_COUNT = sizeof kTags / sizeof kTags[0];
constexpr size_t TAG_BOOTCODE = 0;

// The end of the field that starts at p: the next '.' or the NUL.
const char *FieldEnd(const char *p) {
    while (*p != '\0' && *p != '.') {
        ++p;
    }
    return p;
}

// [begin, end) as a decimal number: one or more digits within 32 bits.
bool Decimal(const char *begin, const char *end, uint32_t *value) {
    if (begin == end) {
        return false;
    }
    uint64_t v = 0;
    for (const char *p = begin; p != end; ++p) {
        if (*p < '0' || *p > '9') {
            return false;
        }
        v = v * 10 + static_cast<uint64_t>(*p - '0');
        if (v > UINT32_MAX) {
            return false;
        }
    }
    *value = static_cast<uint32_t>(v);
    return true;
}

// The row whose tag begins [begin, end) with a decimal number after it, with
// that number in *major; TAG_COUNT when none.
size_t TagOf(const char *begin, const char *end, uint32_t *major) {
    for (size_t row = 0; row < TAG_COUNT; row++) {
        const size_t length = strlen(kTags[row].tag);
        if (static_cast<size_t>(end - begin) > length &&
            strncmp(begin, kTags[row].tag, length) == 0 && Decimal(begin + length, end, major)) {
            return row;
        }
    }
    return TAG_COUNT;
}

// The walk over the name's groups: the versions of the tags read into
// versions, their found bits into *found. Returns 0 when the name gives none.
int WalkName(const char *name, Version (&versions)[TAG_COUNT], uint32_t *found) {
    size_t groups = 0;
    *found = 0;
    const char *field = FieldEnd(name);
    while (*field == '.') {
        const char *tag = field + 1;
        const char *tag_end = FieldEnd(tag);
        Version v{};
        const size_t row = TagOf(tag, tag_end, &v.major);
        if (row == TAG_COUNT || *tag_end != '.') {
            break;
        }
        const char *minor = tag_end + 1;
        const char *minor_end = FieldEnd(minor);
        if (!Decimal(minor, minor_end, &v.minor) || *minor_end != '.') {
            break;
        }
        const char *build = minor_end + 1;
        const char *build_end = FieldEnd(build);
        if (!Decimal(build, build_end, &v.build)) {
            break;
        }
        if (groups == 0 && row != TAG_BOOTCODE) {
            return 0;
        }
        versions[row] = v;
        *found |= kTags[row].found_bit;
        groups++;
        field = build_end;
    }
    return groups == 0 ? 0 : 1;
}

} // namespace

int ParseBackupVersions(const char *name, UpgradePlan &plan) {
    Version versions[TAG_COUNT] = {};
    uint32_t found = 0;
    if (WalkName(name, versions, &found) == 0) {
        return 0;
    }
    for (size_t row = 0; row < TAG_COUNT; row++) {
        plan.*kTags[row].field = versions[row];
    }
    return 1;
}

uint32_t BackupNameFoundBits(const char *name) {
    Version versions[TAG_COUNT] = {};
    uint32_t found = 0;
    return WalkName(name, versions, &found) != 0 ? found : 0;
}
