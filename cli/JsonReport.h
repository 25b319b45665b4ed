// The --json form of a run lives with the report's other writers, below the command line.
#pragma once

#include "evidence/JsonReport.h"
