// The entry point's dispatch: usage text, one of the two reports, or the
// upgrade run followed by the closing of the log.
#include "output/output.h"
#include "run/reports.h"
#include "run/runflags.h"

void usage() {
    Output(0, "USAGE: lanrefit [ -s [ -f ] ] [ -p ]\r\n");
    Output(0, "\t Interactively upgrade Boot Code and PXE, current firmware is saved. \r\n");
    Output(0, "\t -s  Silently upgrade Boot Code and PXE.\r\n");
    Output(0, "\t -f  Force downgrade if system has newer Boot Code or PXE.\r\n");
    Output(0, "\t -p  Restore firmware image from previous upgrade.\r\n");
}

int lanrefit_main(int argc, char **argv) {
    int exit_code = 0;
    switch (ParseCommandLine(argc, argv, &exit_code)) {
    case MODE_REPORT_INSTALLED:
        return report_installed();
    case MODE_REPORT_IMAGE:
        return report_image();
    case MODE_UPGRADE:
        exit_code = upgrade_run();
        log_close();
        return exit_code;
    default:
        usage();
        return exit_code;
    }
}
