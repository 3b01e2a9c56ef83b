// The routines the mode decision hands a run to, each returning the process
// exit code, and the plan listing of the upgrade run.
#pragma once

int report_installed(); // -c
int report_image();     // -I file
int upgrade_run();      // every run that is not a report
int list_plan();        // -l, after the selection pass; always 1
