#include "run.h"

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
}

}  // namespace pk
