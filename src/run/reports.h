// The three routines the mode decision hands a run to. Each returns the
// process exit code.
#pragma once

int report_installed(); // -c
int report_image();     // -I file
int upgrade_run();      // every run that is not a report
