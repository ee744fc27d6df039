#include "run.h"

#include "ring.h"
#include "writer.h"

namespace pk {

Conversion::Conversion(const RunSetup& run, Writer& w, Outputs& out)
    : setup(run),
      options(run.options),
      writer(w),
      outputs(out),
      rules{run.options.sample_limit, run.options.Qcc_on, w.sample_layout(run.options)} {}

Conversion::~Conversion() {
  // A failed run's channel files close below, with the nodes: nothing may write to
  // their descriptors any more.
  outputs.writes.stop();
  if (FdQcc) std::fclose(FdQcc);
  // A log or QCC file whose own writes failed is cut back to what it held before the run.
  for (Unit_list_str* u : ring_nodes(units.start)) {
    outputs.appended.close_quietly(u->FdLog, u->LogFile);
    outputs.appended.close_quietly(u->FdQcc, u->QccFile);
  }
}

}  // namespace pk
