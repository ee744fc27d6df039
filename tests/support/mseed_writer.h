// Test-support writer of 1024-byte miniSEED records with Steim-1 data, used
// to give the reference converter in the benchmark the same samples as ours.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace hbktest {

struct MseedStream {
  std::string network = "XX";
  std::string station = "DEMO";
  std::string location = "";
  std::string channel = "HHZ";
  std::uint16_t rate = 100;  // whole samples per second
  std::int64_t start_us = 0; // microseconds since 30 December 1899
};

class MseedWriter {
 public:
  static constexpr std::size_t kRecordSize = 1024;

  MseedWriter(std::FILE* out, MseedStream stream);
  void put(std::int32_t sample);
  // Packs what is pending and writes the last, partly filled record.
  void finish();
  long records_written() const { return sequence_; }

 private:
  struct Pending {
    std::int32_t diff;
    std::int32_t sample;
  };
  static constexpr std::size_t kFrames = (kRecordSize - 64) / 64;

  void pack_some(bool draining);
  void emit_word(unsigned code, std::uint32_t word, const Pending* from, unsigned count);
  bool record_full() const;
  void write_record();
  void start_record();

  std::FILE* out_;
  MseedStream stream_;
  std::vector<Pending> pending_;
  std::int32_t previous_ = 0;
  std::array<std::array<std::uint32_t, 16>, kFrames> frame_{};
  std::size_t frame_no_ = 0;
  std::size_t word_no_ = 3;
  unsigned record_samples_ = 0;
  std::int32_t first_sample_ = 0;
  std::int32_t last_sample_ = 0;
  std::int64_t samples_before_record_ = 0;
  long sequence_ = 0;
};

}  // namespace hbktest
