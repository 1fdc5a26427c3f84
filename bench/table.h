#pragma once

#include "results.h"

#include <ostream>

// The one table of a bench run: each figure of the tool beside its bare
// counterpart, their ratio and the goal it is held to.
void printTable(const Results& results, std::ostream& out);
