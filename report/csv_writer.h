// report.csv: one line per trace, then one per output file that could not be read and one
// per failed run (its input), with the trace fields left empty. The overlap count comes last,
// so the columns before it keep their places.
#pragma once

#include <ostream>

#include "report/report.h"

namespace report {

void write_csv(std::ostream& out, const Report& report);

// A rate as short as it can be written: "100", "0.1", "40.5".
std::string rate_text(double rate);

}  // namespace report
