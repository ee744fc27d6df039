#include "mseed/libmseed_calls.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <limits>
#include <new>

namespace pk {

namespace {

constexpr char kErrorPrefix[] = "Error: ";

// libmseed's messages go nowhere but here; only the last error is kept, in a fixed
// buffer, since running out of memory is one of the things it reports.
char last_error[256];

void drop_message(char*) {}

void keep_error(char* message) {
  if (std::strncmp(message, kErrorPrefix, sizeof kErrorPrefix - 1) != 0) return;  // a warning
  const char* text = message + sizeof kErrorPrefix - 1;
  std::size_t n = std::min(std::strlen(text), sizeof last_error - 1);
  while (n > 0 && (text[n - 1] == '\n' || text[n - 1] == '\r')) --n;
  std::memcpy(last_error, text, n);
  last_error[n] = '\0';
}

// Before any libmseed call of the program: libmseed reads its log settings at each message.
[[maybe_unused]] const bool quiet = (ms_loginit(drop_message, "", keep_error, kErrorPrefix), true);

// Every call starts with no error of its own yet.
void clear_error() { last_error[0] = '\0'; }

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
  clear_error();
  MSRecord* msr = msr_init(nullptr);
  if (!msr) throw std::bad_alloc();
  return msr;
}

void FreeTemplate::operator()(MSRecord* m) const {
  m->datasamples = nullptr;
  msr_free(&m);
}

int pack_records(MSRecord* msr, const RecordSink& sink, int64_t* packed, bool flush) {
  Handler handler{sink, nullptr};
  clear_error();
  errno = 0;
  const int records = msr_pack(msr, to_sink, &handler, packed, flush ? 1 : 0, 0);
  if (handler.failure) std::rethrow_exception(handler.failure);
  throw_if_out_of_memory(records < 0);
  return records;
}

int detect_record(const char* record, int length) {
  clear_error();
  return ms_detect(record, length);
}

int unpack_record(char* record, int length, MSRecord** msr, bool decode_samples) {
  clear_error();
  errno = 0;
  const int result = msr_unpack(record, length, msr, decode_samples ? 1 : 0, 0);
  throw_if_out_of_memory(result != MS_NOERROR);
  return result;
}

bool add_blockette(MSRecord* msr, char* blockette, int length, int type) {
  clear_error();
  errno = 0;
  const bool added = msr_addblockette(msr, blockette, length, type, 0) != nullptr;
  throw_if_out_of_memory(!added);
  return added;
}

bool steim2_holds(int32_t a, int32_t b) {
  // libmseed refuses -2^29 too, though 30 bits would hold it.
  const int64_t d = int64_t{b} - a;
  return d >= -((int64_t{1} << 29) - 1) && d <= (int64_t{1} << 29) - 1;
}

bool steim1_holds(int32_t a, int32_t b) {
  const int64_t d = int64_t{b} - a;
  return d >= std::numeric_limits<int32_t>::min() && d <= std::numeric_limits<int32_t>::max();
}

std::string libmseed_error(const char* otherwise) {
  return last_error[0] != '\0' ? std::string(last_error) : std::string(otherwise);
}

}  // namespace pk
