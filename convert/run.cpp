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
  // A failed run's logs and QCC files: pk_main cuts them back to what they held before it.
  for_each_in_ring(units.start, [this](Unit_list_str* u) {
    outputs.appended.close_quietly(u->FdLog);
    outputs.appended.close_quietly(u->FdQcc);
  });
}

}  // namespace pk
