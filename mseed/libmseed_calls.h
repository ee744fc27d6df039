// The libmseed calls that allocate, made safe for C++: a failure for want of memory
// becomes std::bad_alloc, as everywhere else in the program (the run ends with code 40),
// rather than passing for a damaged record; and nothing a record sink throws unwinds
// through libmseed's C frames. libmseed prints nothing itself: the program's own line
// says what failed, with libmseed's explanation (libmseed_error) as its cause.
#pragma once

#include <libmseed.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace pk {

using RecordSink = std::function<void(std::string_view record)>;

// msr_init(nullptr); std::bad_alloc when it cannot allocate.
MSRecord* new_record();

// A header template that packs samples it borrows: msr_free must not take them, even when
// an exception leaves packing halfway.
struct FreeTemplate {
  void operator()(MSRecord* m) const;
};
using TemplatePtr = std::unique_ptr<MSRecord, FreeTemplate>;
// msr_pack, each record to `sink`; what the sink threw is thrown again once libmseed has
// returned. Returns msr_pack's result: -1 for samples it could not pack.
int pack_records(MSRecord* msr, const RecordSink& sink, int64_t* packed, bool flush);
// ms_detect: the length of the record at `record`, or 0 or less for none.
int detect_record(const char* record, int length);
// msr_unpack; MS_NOERROR or the error of a record libmseed cannot read.
int unpack_record(char* record, int length, MSRecord** msr, bool decode_samples);
// msr_addblockette; false when libmseed refused the blockette.
bool add_blockette(MSRecord* msr, char* blockette, int length, int type);

// Whether libmseed's Steim-2 (Steim-1) encoder holds the difference from a to b.
bool steim2_holds(int32_t a, int32_t b);
bool steim1_holds(int32_t a, int32_t b);

// The last error libmseed reported during the latest of the calls above (without its
// "Error: " and line end); `otherwise` when it reported none.
std::string libmseed_error(const char* otherwise);

}  // namespace pk
