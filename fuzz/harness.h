// Shared plumbing of the fuzz targets: one private scratch directory per process,
// a quiet stdout, and checks that a run let go of every file it opened.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>

namespace pkfuzz {

// Created on first use, removed when the process exits.
const std::string& scratch_dir();

// Writes `size` bytes to `path`; aborts when that fails, since every later
// finding would be meaningless.
void write_file(const std::string& path, const uint8_t* data, std::size_t size);
void write_file(const std::string& path, const std::string& text);

// Removes everything below `dir`, keeping `dir` itself.
void empty_dir(const std::string& dir);

// Points stdout at /dev/null once; the programs print a line per packet.
void silence_stdout();

// Caps every file this process writes at `bytes`; a longer write fails with EFBIG
// instead of a signal. A few flipped bits in a time code can ask for gigabytes of
// gap padding, which is what the programs are meant to write, but fuzzing only
// needs to see how they cope when the disk refuses.
void limit_file_size(std::size_t bytes);

// Descriptors this process holds open right now.
int open_descriptor_count();

// Aborts with `what` when more descriptors are open than `before`: a run that
// returns with a file still open leaks it on every input of a long batch.
void require_no_leaked_descriptors(int before, const char* what);

// Aborts with `what` when a file with one of `extensions` is left anywhere below
// `dir`: a run must not leave its temporaries behind, however it ended.
void require_no_files_with(const std::string& dir, std::initializer_list<const char*> extensions,
                           const char* what);

// Returns to the scratch directory: a fatal end of a run leaves the working
// directory wherever the run was.
void reset_working_dir();

}  // namespace pkfuzz
