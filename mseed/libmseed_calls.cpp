#include "mseed/libmseed_calls.h"

#include <cerrno>
#include <exception>
#include <new>

namespace pk {

namespace {

// libmseed reports a failed malloc only in its log: the errno malloc left tells it from
// a record it cannot handle. Callers clear errno before the call.
void throw_if_out_of_memory(bool failed) {
  if (failed && errno == ENOMEM) throw std::bad_alloc();
}

struct Handler {
  const RecordSink& sink;
  std::exception_ptr failure;
};

void to_sink(char* record, int length, void* handler_data) {
  auto& handler = *static_cast<Handler*>(handler_data);
  if (handler.failure) return;
  try {
    handler.sink(std::string_view(record, static_cast<std::size_t>(length)));
  } catch (...) {
    handler.failure = std::current_exception();
  }
}

}  // namespace

MSRecord* new_record() {
  MSRecord* msr = msr_init(nullptr);
  if (!msr) throw std::bad_alloc();
  return msr;
}

int pack_records(MSRecord* msr, const RecordSink& sink, int64_t* packed, bool flush) {
  Handler handler{sink, nullptr};
  errno = 0;
  const int records = msr_pack(msr, to_sink, &handler, packed, flush ? 1 : 0, 0);
  if (handler.failure) std::rethrow_exception(handler.failure);
  throw_if_out_of_memory(records < 0);
  return records;
}

int unpack_record(char* record, int length, MSRecord** msr, bool decode_samples) {
  errno = 0;
  const int result = msr_unpack(record, length, msr, decode_samples ? 1 : 0, 0);
  throw_if_out_of_memory(result != MS_NOERROR);
  return result;
}

bool add_blockette(MSRecord* msr, char* blockette, int length, int type) {
  errno = 0;
  const bool added = msr_addblockette(msr, blockette, length, type, 0) != nullptr;
  throw_if_out_of_memory(!added);
  return added;
}

}  // namespace pk
