// Placeholder until this mode is built.
#include "output/output.h"
#include "run/reports.h"

int upgrade_run() {
    Output(0, "lanrefit: the upgrade mode is not built yet.\r\n");
    return 0;
}
