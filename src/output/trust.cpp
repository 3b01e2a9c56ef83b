// The refusal of a file or folder that the program would load, start or read
// but cannot trust: one red line naming it and the reason.
#include "output/output.h"

#include <cstdio>

bool TrustPath(const char *path, const char *shown) {
    const unsigned long error = plat_check_trusted(path);
    if (error == 0) {
        return true;
    }
    char reason[96];
    switch (error) {
    case PLAT_ERROR_REPARSE_POINT:
        snprintf(reason, sizeof reason, "%s", "it is a link, junction or other reparse point.");
        break;
    case PLAT_ERROR_FOREIGN_OWNER:
        snprintf(reason, sizeof reason, "%s",
                 "its owner is not Administrators, SYSTEM or the account running lanrefit.");
        break;
    case PLAT_ERROR_OPEN_TO_OTHERS:
        snprintf(reason, sizeof reason, "%s",
                 "an account other than Administrators, SYSTEM or the account running lanrefit "
                 "may write to it.");
        break;
    default:
        snprintf(reason, sizeof reason, "it cannot be examined (error %lu).", error);
        break;
    }
    Output(ATTR_ERROR, "Cannot trust %s: %s\r\n", shown, reason);
    return false;
}
