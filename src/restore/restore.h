// Restore: the saved images in BackupDir that belong to the adapter at
// CurrentNic, matched by the identity and MAC address inside them, listed (-a)
// or offered to the operator (-p, -e); and the plan's copy of an image file's
// identity, which the image report uses too.
#pragma once

#include <cstddef>

#include "adapter/firmware.h"
#include "select/plan.h"

// Room for the description of a change ("Boot Code 3.4.7 to 3.4.6") and for
// the question built from it, NUL included. Longer texts are cut.
constexpr size_t RESTORE_CHANGE_TEXT_SIZE = 88;
constexpr size_t RESTORE_PROMPT_SIZE = 80;

// Result of SelectRestore when BackupDir holds no candidate file at all. The
// message is printed; the caller closes the library and ends the run with 3.
constexpr int RESTORE_NO_IMAGES = 1;

// Finds the saved images of the adapter at CurrentNic and lists them (-a) or
// offers them one by one until the operator takes one (PLAN_RESTORE_CONFIRMED)
// or quits (RUN_CANCELLED). Returns 0, or RESTORE_NO_IMAGES.
int SelectRestore();

// Asks whether to restore the saved image in plan over the firmware installed
// (fw): ANSWER_YES, ANSWER_NO or ANSWER_QUIT.
int ConfirmRestore(const NicFwInfo &fw, const UpgradePlan &plan);

// Describes the change from fw's versions to plan's into text (cut to size);
// leaves text untouched when the plan names no boot code.
void RestoreChangeText(const NicFwInfo &fw, const UpgradePlan &plan, char *text, size_t size);

// One listing line of the saved image in the plan of the adapter at CurrentNic.
void ListBackupImage();

// Reads the image file at path into plan's identity fields and sets
// PLAN_BC_FOUND. Returns 1, or 0 (plan untouched) when the file cannot be read
// or is no image; the reason is printed.
int ReadImageIdentity(UpgradePlan &plan, const char *path);
