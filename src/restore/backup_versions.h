// The firmware versions that a backup file's name records. The writers name a
// backup "<MAC>.bc<M>.<m>.<b>[.p..][.c..][.u..][.iS..].bin" after the versions
// installed when it was saved; the image itself does not hold them in a form
// that is read here.
//
// The name is split at '.'. The first field (the MAC text) is skipped; then
// groups of three fields are read while the group's first field is one of the
// tags "bc", "p", "c", "u", "iS" (case-sensitive) directly followed by a decimal
// number, and the next two fields are decimal numbers (one or more ASCII
// digits, at most 4294967295). The first field that does not fit ends the
// parse (normally "bin"). A later group of the same tag replaces an earlier one.
#pragma once

#include <cstdint>

#include "select/plan.h"

// When name's first group is boot code ("bc"), sets the plan's BootCodeVersion,
// PxeVersion, ClpVersion, UmpVersion and IscsiVersion from the groups read
// (0.0.0 for a tag not present) and returns 1. Otherwise returns 0 and leaves
// the plan untouched. Touches nothing but those five fields; no other state.
int ParseBackupVersions(const char *name, UpgradePlan &plan);

// The plan's found bits (PLAN_BC_FOUND, PLAN_PXE_FOUND, PLAN_CLP_FOUND,
// PLAN_UMP_FOUND, PLAN_ISCSI_FOUND) of the components whose groups the name
// holds, by the same reading; 0 when ParseBackupVersions would return 0.
uint32_t BackupNameFoundBits(const char *name);
