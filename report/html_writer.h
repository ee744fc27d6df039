// report.html: one self-contained page (inline style and SVG, no scripts, nothing fetched)
// that is also well-formed XML.
#pragma once

#include <ostream>

#include "report/report.h"

namespace report {

void write_html(std::ostream& out, const Report& report);
// The availability timeline alone: one row per channel, data blue, gaps red.
void write_timeline_svg(std::ostream& out, const Report& report);

}  // namespace report
