// pk_report's SEISAN reader on what pk_seis writes past the twelve header lines and the
// six count digits: every channel found, with all its samples.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "report/input_file.h"
#include "tests/support/pkenc.h"
#include "report/seisan_reader.h"
#include "tests/support/testkit.h"

namespace {

namespace fs = std::filesystem;
using testkit::ScratchDir;

TEST(SeisanReader, WideEventsAndChannelsOfAMillionSamples) {
  struct Case {
    unsigned channels;
    std::size_t samples;
    const char* switches;
    const char* last_channel;  // as the component code gives it
  };
  const Case cases[] = {{32, 10, "", "W"}, {32, 10, "-W4", "W"}, {1, 1'000'000, "-W4", "1"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.channels) + " " + c.switches);
    ScratchDir dir;
    pktest::Recording rec;
    for (unsigned ch = 0; ch < c.channels; ++ch)
      rec.channels.push_back({.channel = ch, .samples = std::vector<int32_t>(c.samples, static_cast<int32_t>(ch))});
    pktest::write_packets(dir / "in.pk", rec.packets());
    fs::create_directory(dir / "out");
    const auto r = testkit::run_program(testkit::program_path("pk_seis"), std::string("-VN in.pk out ") + c.switches,
                                        dir.path());
    ASSERT_EQ(r.code, 0) << r.out;
    const std::vector<std::string> files = testkit::list_files(dir / "out");
    ASSERT_EQ(files.size(), 1u);
    report::InputFile file(dir.path() / "out" / files[0]);
    const report::FileTraces read = report::read_seisan(file);
    EXPECT_EQ(read.error, "");
    ASSERT_EQ(read.traces.size(), c.channels);
    for (const report::Trace& t : read.traces) EXPECT_EQ(t.samples, c.samples);
    EXPECT_EQ(read.traces.back().channel, c.last_channel);
  }
}

}  // namespace
