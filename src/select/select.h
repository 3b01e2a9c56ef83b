// Image selection for the adapter at CurrentNic: the six catalogue scans, the
// confirm routine of each component, and the version verdict they share.
#pragma once

#include <vector>

#include "adapter/firmware.h"
#include "adapter/inventory.h"
#include "select/plan.h"

// The firmware components, in the order of the catalogue table.
constexpr int COMPONENT_BOOTCODE = 0;
constexpr int COMPONENT_PXE = 1;
constexpr int COMPONENT_UMP = 2;
constexpr int COMPONENT_CLP = 3;
constexpr int COMPONENT_ISCSI = 4;
constexpr int COMPONENT_ISCSI_STUB = 5;
constexpr int COMPONENT_COUNT = 6;

// Each scans its component's catalogue for the adapter at CurrentNic, records
// matches in its plan and offers them to the operator. Always returns 0; the
// result is in PlanTable[CurrentNic], in RunFlags (RUN_CANCELLED, advise bits)
// and in FW_ANNOUNCED.
int SelectBootCode();
int SelectPXE();
int SelectUMP();
int SelectCLP();
int SelectiSCSI();
int SelectiSCSIstub();

// The catalogue's folder, below the current directory.
constexpr const char *CATALOGUE_DIR = ".\\NIC_FW";

// Before a run reads the catalogue: .\NIC_FW has to be there, and it, every
// folder and file below it are judged by the rule of plat_check_trusted.
// Returns 1, or 0 after printing the red line that names the missing folder
// or what was refused.
int TrustCatalogue();

// Decide about the image just recorded in plan against the installed firmware
// in fw: ANSWER_YES, ANSWER_NO or ANSWER_QUIT.
int ConfirmBootCode(const NicFwInfo &fw, const UpgradePlan &plan);
int ConfirmPXE(const NicFwInfo &fw, const UpgradePlan &plan);
int ConfirmUMP(const NicFwInfo &fw, const UpgradePlan &plan);
int ConfirmCLP(const NicFwInfo &fw, const UpgradePlan &plan);
int ConfirmiSCSI(const NicFwInfo &fw, const UpgradePlan &plan);
int ConfirmiSCSIstub(const NicFwInfo &fw, const UpgradePlan &plan);
// The confirm routine of a COMPONENT_ value.
int ConfirmSelected(int component, const NicFwInfo &fw, const UpgradePlan &plan);

// The heading above an adapter's first question ("Found <name> MAC: <mac>").
// It does not set FW_ANNOUNCED; the caller does where the rules say so.
void AnnounceAdapter(const NicEntry &nic);

// The verdict about a selected version against the installed one.
constexpr int VERDICT_NEWER = 0; // the selected image is more recent
constexpr int VERDICT_SAME = 1;
constexpr int VERDICT_OLDER = 2; // the installed firmware is more recent

// Unsigned comparison, most significant first; major_minor_only ignores the build.
int VersionVerdict(const Version &installed, const Version &selected, bool major_minor_only);

// A catalogue version text, right to left: lower-case v removed, build after the
// last full stop, then the minor the same way, then the major (atoi semantics).
// Reads at most the 63 characters of a catalogue version token.
Version ParseCatalogueVersion(const char *text);

// One word of a catalogue list file, read as the catalogue reads an identity:
// at most 20 characters (a longer run is split, its rest the next word).
// Length counts every byte stored, a NUL byte too.
constexpr size_t CATALOGUE_WORD_SIZE = 21;
struct CatalogueWord {
    char Text[CATALOGUE_WORD_SIZE];
    size_t Length;
};

// The words of the list file PATH of the catalogue (NIC_FW\Jumper.config).
// Returns 1, or 0 with errno set when the file cannot be opened.
int ReadCatalogueWords(const char *path, std::vector<CatalogueWord> &words);
