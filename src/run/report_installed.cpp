// Placeholder until this mode is built.
#include "output/output.h"
#include "run/reports.h"

int report_installed() {
    Output(0, "lanrefit: the -c mode is not built yet.\r\n");
    return 0;
}
