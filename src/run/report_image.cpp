// Placeholder until this mode is built.
#include "output/output.h"
#include "run/reports.h"

int report_image() {
    Output(0, "lanrefit: the -I mode is not built yet.\r\n");
    return 0;
}
