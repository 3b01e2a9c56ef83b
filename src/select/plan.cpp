// The process-wide upgrade plan table.
#include "select/plan.h"

std::vector<UpgradePlan> PlanTable;
