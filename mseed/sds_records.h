// Reading miniSEED records by their headers, and cutting samples out of one record into
// new records that hold exactly those samples.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <libmseed.h>

#include "mseed/sds_merge.h"

namespace pk::sds {

// What went wrong, for the caller to name the file: an errno, or EBADMSG for bytes that
// are no usable miniSEED record, with libmseed's explanation when it gave one.
struct Problem {
  std::string what;
  int error_number;
  std::string cause = {};
};

// Calls `each` with every record's header (samples not decoded), its offset and length,
// in file order. The file is read in large chunks, never whole.
std::optional<Problem> scan_records(int fd, const std::function<void(const MSRecord&, off_t, int)>& each);

// Appends to `out` records holding samples [first, first + count) of the record `p`
// (read from `fd`), starting at `start`: the record's own encoding where the samples
// allow it, else Steim-2, Steim-1, then 32-bit integers; every candidate is decoded
// again and taken only when it gives back the same samples.
std::optional<Problem> cut_record(int fd, const Piece& p, int64_t first, int64_t count, Micros start,
                                  std::vector<char>& out);

// Reads exactly `length` bytes at `offset`.
std::optional<Problem> read_at(int fd, off_t offset, std::size_t length, char* into);

}  // namespace pk::sds
