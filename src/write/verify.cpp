// The read-back after the writes of an adapter: its installed versions are
// read again through the library and compared with what this run's writes
// put there. A tool that ends without writing, or a write-protect jumper (J1)
// in the protected position, leaves the NVRAM as it was; this is where it shows.
#include "adapter/inventory.h"
#include "base/runflags.h"
#include "output/output.h"
#include "select/plan.h"
#include "write/write.h"

namespace {

// The components as the failure lines name them, in write order.
// A compared component reads the installed field of the same number.
enum Compared {
    C_BOOTCODE = FIELD_BOOTCODE,
    C_PXE = FIELD_PXE,
    C_UMP = FIELD_UMP,
    C_CLP = FIELD_CLP,
    C_ISCSI = FIELD_ISCSI,
    C_COUNT
};

struct ComparedRow {
    const char *name;
    uint32_t installed_bit;      // its FW_ bit in NicFwInfo
    bool eight_bit;              // NicFwInfo keeps the low 8 bits of each number
    uint32_t found_bit;          // restore: the name of the saved image records it
    Version UpgradePlan::*saved; // restore: the version the name records
};

const ComparedRow kCompared[C_COUNT] = {
    {"Boot Code", FW_HAS_BOOTCODE, false, PLAN_BC_FOUND, &UpgradePlan::BootCodeVersion},
    {"PXE", FW_HAS_PXE, false, PLAN_PXE_FOUND, &UpgradePlan::PxeVersion},
    {"UMP", FW_HAS_UMP, true, PLAN_UMP_FOUND, &UpgradePlan::UmpVersion},
    {"CLP", FW_HAS_CLP, true, PLAN_CLP_FOUND, &UpgradePlan::ClpVersion},
    {"iSCSI", FW_HAS_ISCSI, true, PLAN_ISCSI_FOUND, &UpgradePlan::IscsiVersion},
};

// The component each writer writes (the stub is an iSCSI image); the restore
// writes them all.
const Compared kComparedOf[WRITE_COMPONENTS] = {C_BOOTCODE, C_PXE,   C_UMP,  C_CLP,
                                                C_ISCSI,    C_ISCSI, C_COUNT};

// The pre-boot writers, in write order: their images share one place in the
// NVRAM, so the last one written replaces those before it.
const WriteComponent kPreBootWrites[] = {WRITE_PXE, WRITE_CLP, WRITE_ISCSI, WRITE_ISCSI_STUB};

// The writes after which a jumper adapter gets its jumper line.
constexpr uint32_t JUMPER_CHECKED = WriteBit(WRITE_BOOTCODE) | WriteBit(WRITE_PXE) |
                                    WriteBit(WRITE_ISCSI) | WriteBit(WRITE_ISCSI_STUB) |
                                    WriteBit(WRITE_RESTORE);

struct Expected {
    bool compared;
    bool pre_boot; // the pre-boot place: compared as the kind found there
    Version version;
};

// What the adapter should hold after its writes. An upgrade compares the
// boot code, the UMP and the pre-boot image written last; an adapter without
// the jumper only the writes whose tool ended with the backup saved (a write
// that failed so has its error line already), a jumper adapter every write
// it had an image for. A restore compares the versions its file name records.
// Returns whether anything is to be compared.
bool ExpectedVersions(const WriteRecord &writes, const UpgradePlan &plan, bool jumper,
                      Expected (&expected)[C_COUNT]) {
    const uint32_t considered = jumper ? writes.Attempted : writes.Started;
    const uint32_t compared = jumper ? writes.Attempted : writes.Done;
    bool any = false;
    for (WriteComponent w : {WRITE_BOOTCODE, WRITE_UMP}) {
        if ((compared & WriteBit(w)) != 0) {
            expected[kComparedOf[w]] = {true, false, writes.Written[w]};
            any = true;
        }
    }
    WriteComponent last = WRITE_COMPONENTS;
    for (WriteComponent w : kPreBootWrites) {
        last = (considered & WriteBit(w)) != 0 ? w : last;
    }
    if (last != WRITE_COMPONENTS && (compared & WriteBit(last)) != 0) {
        expected[kComparedOf[last]] = {true, true, writes.Written[last]};
        any = true;
    }
    if ((compared & WriteBit(WRITE_RESTORE)) != 0 && (plan.Flags & PLAN_VERSIONS_KNOWN) != 0) {
        for (int c = 0; c < C_COUNT; c++) {
            if ((plan.Flags & kCompared[c].found_bit) != 0) {
                expected[c] = {true, false, plan.*kCompared[c].saved};
                any = true;
            }
        }
    }
    return any;
}

// A restored image may lack a component that was installed before, and a
// pre-boot image of another kind may have replaced the one there: the
// read-back starts from nothing, so what it finds is what is there.
void ForgetInstalledFirmware(NicFwInfo &fw) {
    fw.Flags &= ~(FW_HAS_BOOTCODE | FW_HAS_PXE | FW_HAS_CLP | FW_HAS_UMP | FW_HAS_ISCSI);
    fw.BootCodeVersion = Version{};
    fw.PxeVersion = Version{};
    fw.UmpVersion = {};
    fw.ClpVersion = {};
    fw.IscsiVersion = {};
}

// The installed version of component c as read back. The pre-boot place
// holds one version text, filed under the first kind found of PXE, CLP and
// iSCSI; it is that component's version when an image of its kind is there.
Version Installed(const NicFwInfo &fw, Compared c, bool pre_boot) {
    if (pre_boot) {
        if ((fw.Flags & kCompared[c].installed_bit) == 0) {
            return Version{};
        }
        return (fw.Flags & FW_HAS_PXE) != 0   ? fw.PxeVersion
               : (fw.Flags & FW_HAS_CLP) != 0 ? Widen(fw.ClpVersion)
                                              : Widen(fw.IscsiVersion);
    }
    return InstalledVersion(fw, static_cast<InstalledField>(c));
}

bool Differ(const Version &installed, const Version &expected, bool eight_bit) {
    const uint32_t mask = eight_bit ? 0xFFu : 0xFFFFFFFFu;
    return ((installed.major ^ expected.major) & mask) != 0 ||
           ((installed.minor ^ expected.minor) & mask) != 0 ||
           ((installed.build ^ expected.build) & mask) != 0;
}

int Num(uint32_t value) {
    return static_cast<int>(value);
}

constexpr const char *FAILED_LINE = "*** ERROR *** Firmware upgrade failed!\r\n";
constexpr const char *REMINDER_LINE =
    "** WARNING ** Replace the adapter jumper (J1) to the Write Protect position\r\n";

} // namespace

void VerifyUpgrade() {
    if (CurrentNic >= WriteTable.size()) {
        return;
    }
    NicEntry &nic = NicTable[CurrentNic];
    NicFwInfo &fw = NicFwTable[CurrentNic];
    const UpgradePlan &plan = PlanTable[CurrentNic];
    const WriteRecord &writes = WriteTable[CurrentNic];
    const bool jumper = HasWriteProtectJumper(fw) != 0;
    const bool jumper_checked = jumper && (writes.Attempted & JUMPER_CHECKED) != 0;

    Expected expected[C_COUNT] = {};
    if (!ExpectedVersions(writes, plan, jumper, expected)) {
        // Nothing to compare: a restored image renamed by hand.
        if (jumper_checked) {
            Output(0, "%s", REMINDER_LINE);
        }
        return;
    }
    bool read = EnterDiagnosticMode(nic) != 0;
    if (read) {
        ForgetInstalledFirmware(fw);
        read = ReadInstalledFirmware(fw) != 0;
        LeaveDiagnosticMode(nic);
    }
    if (!read) {
        // Whether the writes took is unknown: neither jumper line fits.
        Output(0, "%s", FAILED_LINE);
        Output(0, "Verify failed: the installed firmware could not be read\r\n");
        RunFlags |= RUN_HAD_ERRORS;
        return;
    }

    bool failed = false;
    bool bootcode_failed = false;
    for (int c = 0; c < C_COUNT; c++) {
        if (!expected[c].compared) {
            continue;
        }
        const Version is = Installed(fw, static_cast<Compared>(c), expected[c].pre_boot);
        const Version &want = expected[c].version;
        if (!Differ(is, want, kCompared[c].eight_bit)) {
            continue;
        }
        if (!failed) {
            Output(0, "%s", FAILED_LINE);
        }
        failed = true;
        bootcode_failed = bootcode_failed || c == C_BOOTCODE;
        Output(0, "Verify failed: %s is %d.%d.%d, expected %d.%d.%d\r\n", kCompared[c].name,
               Num(is.major), Num(is.minor), Num(is.build), Num(want.major), Num(want.minor),
               Num(want.build));
    }
    if (failed) {
        RunFlags |= RUN_HAD_ERRORS;
        if (jumper) {
            // The lower-case line after a boot code write that did not take;
            // the capitalised one after any other, a restore's included.
            const bool upgrade_bootcode =
                bootcode_failed && (writes.Attempted & WriteBit(WRITE_BOOTCODE)) != 0;
            Output(0, "%s",
                   upgrade_bootcode
                       ? "Verify adapter jumper (J1) is in the write enable position\r\n"
                       : "Verify adapter jumper (J1) is in the Write Enable position\r\n");
        }
    } else if (jumper_checked) {
        Output(0, "%s", REMINDER_LINE);
    }
}
