// fault_harness --bin DIR --shim LIB [--work DIR] [--jobs N] [--findings FILE] [--show-held yes]
//               [--only TEXT]
//
// For every program and switch set, and every kind of call: a clean run gives the
// reference outputs, then one run per n fails the n-th call of that kind, into a directory
// that already holds a clean run's outputs, until n is past the last call. Prints per
// program and call how many faults were injected and how many held; lists every fault
// that did not hold (also into FILE) and exits 1 if there was one.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iostream>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "tests/fault/fault_harness.h"
#include "tests/support/hbk_encoder.h"
#include "tests/support/pkenc.h"

namespace fault {
namespace {

namespace fs = std::filesystem;

struct Case {
  std::string label, program;
  std::vector<std::string> args;
  std::vector<std::string> calls;  // the calls to fail; empty: every kind
  // An archive (a directory below out/, ending in '/') whose files each event's merge
  // rewrites whole, and the arguments of a run converting the first event alone.
  std::string archive;
  std::vector<std::string> first_event_args;
};

// The errnos each kind fails with, taken in turn as n goes up.
std::vector<int> errors_for(const std::string& call) {
  if (call == "open") return {EMFILE, ENOSPC, EIO};
  if (call == "mkdir") return {ENOSPC, EIO};
  if (call == "pthread_create") return {EAGAIN};
  if (call == "malloc") return {ENOMEM};
  return {ENOSPC, EIO};
}

// Two events (or the first alone) of two channels and a state-of-health packet: every
// kind of file the packet programs write, in few calls.
void write_packet_input(const fs::path& path, unsigned events) {
  std::vector<pktest::Packet> packets;
  for (unsigned event = 1; event <= events; ++event) {
    pktest::Recording rec{.unit = 0x3E51, .event = event, .start = "2019045120" + std::to_string(event) + "00000"};
    for (unsigned ch = 0; ch < 2; ++ch)
      rec.channels.push_back({.channel = ch, .format = pktest::kFmt16,
                              .samples = std::vector<int32_t>(120, static_cast<int32_t>(100 * event + ch))});
    const auto p = rec.packets();
    packets.insert(packets.end(), p.begin(), p.end());
  }
  packets.push_back(pktest::make_sh(pktest::Header{.type = "SH", .unit = 0x3E51}, "BATTERY 12.4 V\n"));
  pktest::write_packets(path.string(), packets);
}

// Two HBK files of one block each, the second with a gap after a first block.
void write_hbk_inputs(const fs::path& dir) {
  auto block = [](std::uint32_t seconds, std::int32_t first) {
    std::vector<std::int32_t> s(200);
    for (std::size_t i = 0; i < s.size(); ++i) s[i] = first + static_cast<std::int32_t>(i % 7);
    hbktest::BlockFields f = hbktest::fields_from_samples(s, 4);
    f.sysid = hbktest::text_to_id("QX4");
    f.streamid = hbktest::text_to_id("HHZ1");
    f.timecode = hbktest::make_timecode(11'000, seconds);
    return hbktest::encode_block(f);
  };
  hbktest::write_blocks((dir / "a.hbk").string(), {block(3600, 10)});
  hbktest::write_blocks((dir / "b.hbk").string(), {block(7200, 20), block(7210, 30)});
}

std::vector<Case> cases(const fs::path& inputs) {
  const std::string pk = (inputs / "in.pk").string(), first_event = (inputs / "first_event.pk").string();
  // Durable runs take the file calls only: their allocations and threads are those of
  // the runs without the switch.
  const std::vector<std::string> file_calls = {"open", "write", "pwrite", "fsync", "fdatasync", "close", "rename"};
  return {
      {"pk_segy -HY -GS -LY -QY", "pk_segy", {"-HY", "-GS", "-LY", "-QY", pk, "out"}},
      {"pk_seis -W4", "pk_seis", {"-W4", pk, "out"}},
      {"pk_segy -HY -GS -LY -QY -Y", "pk_segy", {"-HY", "-GS", "-LY", "-QY", "-Y", pk, "out"}, file_calls},
      {"pk_seis -WP -P2", "pk_seis", {"-WP", "-P2", pk, "out"}},
      {"pk_mseed -LY -QY", "pk_mseed", {"-LY", "-QY", pk, "out"}},
      {"pk_mseed -Aout/sds", "pk_mseed", {"-Aout/sds", pk, "out"}, {}, "sds/", {"-Aout/sds", first_event, "out"}},
      {"hbk2sac a.hbk b.hbk", "hbk2sac", {(inputs / "a.hbk").string(), (inputs / "b.hbk").string(), "-o:out"}},
      {"hbk2sac -y a.hbk b.hbk", "hbk2sac", {"-y", (inputs / "a.hbk").string(), (inputs / "b.hbk").string(), "-o:out"},
       file_calls},
  };
}

struct Options {
  fs::path bin, work;
  std::string shim, findings, only;  // only: the cases whose label holds this text
  unsigned jobs = 2;
  bool show_held = false;
  bool keep_work = false;  // a directory named by --work stays, its inputs with it
};

Options parse(int argc, char** argv) {
  Options o;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string key = argv[i], value = argv[i + 1];
    if (key == "--bin") o.bin = value;
    else if (key == "--shim") o.shim = value;
    else if (key == "--work") o.work = value, o.keep_work = true;
    else if (key == "--findings") o.findings = value;
    else if (key == "--only") o.only = value;
    else if (key == "--show-held") o.show_held = value == "yes";
    else if (key == "--jobs") o.jobs = static_cast<unsigned>(std::max(1, std::stoi(value)));
    else throw std::invalid_argument("unknown option " + key);
  }
  if (o.bin.empty() || o.shim.empty()) throw std::invalid_argument("usage: fault_harness --bin DIR --shim LIB");
  o.bin = fs::absolute(o.bin);
  o.shim = fs::absolute(o.shim).string();
  if (o.work.empty()) o.work = fs::temp_directory_path() / ("fault-harness-" + std::to_string(::getpid()));
  return o;
}

struct Tally {
  long injected = 0, held = 0;
};

struct Finding {
  std::string label, call;
  long n = 0;  // 0: a run without a fault
  int error = 0;
  Outcome run;
  std::vector<std::string> what;
};

// A run's text reduced to what tells one failure from another: numbers (n, process ids,
// sizes) taken out.
std::string shape(const std::vector<std::string>& what) {
  std::string key;
  for (const auto& w : what)
    for (char ch : w)
      if (!std::isdigit(static_cast<unsigned char>(ch)) || key.empty() || key.back() != '#')
        key += std::isdigit(static_cast<unsigned char>(ch)) ? '#' : ch;
  return key;
}

// 1-3, 5, 9-12
std::string ranges(std::vector<long> ns) {
  std::sort(ns.begin(), ns.end());
  std::string text;
  for (std::size_t i = 0; i < ns.size();) {
    std::size_t j = i;
    while (j + 1 < ns.size() && ns[j + 1] == ns[j] + 1) ++j;
    if (!text.empty()) text += ", ";
    text += std::to_string(ns[i]);
    if (j > i) {
      text += '-';
      text += std::to_string(ns[j]);
    }
    i = j + 1;
  }
  return text;
}

// The last lines a run printed, where the packet programs' own messages stand.
std::string tail(const std::string& text, std::size_t lines) {
  std::string t = text;
  std::erase(t, '\r');
  while (!t.empty() && t.back() == '\n') t.pop_back();
  std::size_t at = t.size();
  for (std::size_t i = 0; i < lines && at != std::string::npos && at > 0; ++i) at = t.rfind('\n', at - 1);
  t = at == std::string::npos ? t : t.substr(at + 1);
  return t.size() > 300 ? "..." + t.substr(t.size() - 300) : t;
}

void describe(std::ostream& out, const Finding& f, const std::vector<long>& ns) {
  out << "FAILED " << f.label << ": " << f.call;
  if (f.n > 0) out << " n = " << ranges(ns) << " (" << ns.size() << ")";
  out << "; e.g. n = " << f.n << (f.error ? std::string(", ") + strerrorname_np(f.error) : "") << ", status "
      << f.run.status << "\n";
  if (!f.run.failed_on.empty()) out << "    the failed call's file: " << f.run.failed_on << "\n";
  for (const auto& w : f.what) out << "    " << w << "\n";
  if (!f.run.err.empty()) out << "    stderr: " << tail(f.run.err, 3) << "\n";
  if (!f.run.out.empty()) out << "    stdout ends: " << tail(f.run.out, 2) << "\n";
}

// Findings of one program and call that fail alike go together, with one example.
void report_findings(std::ostream& out, const std::vector<Finding>& findings) {
  std::map<std::string, std::pair<const Finding*, std::vector<long>>> groups;
  for (const Finding& f : findings) {
    auto& g = groups[f.label + "\n" + f.call + "\n" + shape(f.what)];
    if (g.first == nullptr || f.n < g.first->n) g.first = &f;
    g.second.push_back(f.n);
  }
  for (const auto& [key, g] : groups) describe(out, *g.first, g.second);
}

class Harness {
 public:
  explicit Harness(Options o) : options_(std::move(o)) {}
  int run();

 private:
  Reference reference(const Case& c, const fs::path& dir, std::vector<Finding>& found);
  Midway midway(const Case& c, const fs::path& dir, const Files& before);
  void inject_all(const Case& c, const std::string& call, const Reference& ref, const fs::path& dir);
  void record(const Case& c, const Fault& f, const Outcome& o, const std::vector<std::string>& what);
  void report(std::ostream& out, double seconds) const;
  void write_findings(double seconds) const;

  Options options_;
  std::mutex lock_;
  std::map<std::string, std::map<std::string, Tally>> tallies_;
  std::vector<Finding> findings_;
};

// The shim must see the calls a run makes, or every fault would pass untested.
void expect_calls_seen(const Case& c, const Outcome& o, std::vector<Finding>& found) {
  for (const char* call : {"open", "close", "rename"})
    if (o.counts[static_cast<std::size_t>(call_index(call))] == 0)
      found.push_back({c.label, "no fault", 0, 0, o, {std::string("the shim saw no ") + call + " call on the outputs"}});
}

Reference Harness::reference(const Case& c, const fs::path& dir, std::vector<Finding>& found) {
  const Launch launch{(options_.bin / c.program).string(), c.args, dir};
  Reference ref;
  const Outcome first = run_once(launch, options_.shim, {}, {});
  ref.first = first.files;
  const Outcome second = run_once(launch, options_.shim, {}, ref.first);
  ref.second = second.files;
  ref.counts = second.counts;
  ref.midway = midway(c, dir, ref.first);
  ref.midway_from_empty = midway(c, dir, {});
  if (first.status != 0 || second.status != 0)
    found.push_back({c.label, "no fault", 0, 0, second, {"a clean run fails"}});
  expect_calls_seen(c, second, found);
  return ref;
}

// The archive's files after a clean run of the first event alone into `before`.
Midway Harness::midway(const Case& c, const fs::path& dir, const Files& before) {
  Midway m;
  if (c.archive.empty()) return m;
  const Outcome o = run_once({(options_.bin / c.program).string(), c.first_event_args, dir}, options_.shim, {}, before);
  if (o.status != 0) throw std::runtime_error(c.label + ": a clean run of the first event alone fails");
  for (const auto& [name, bytes] : o.files)
    if (name.starts_with(c.archive)) m[name].insert(bytes);
  return m;
}

void Harness::record(const Case& c, const Fault& f, const Outcome& o, const std::vector<std::string>& what) {
  const std::lock_guard<std::mutex> guard(lock_);
  Tally& t = tallies_[c.label][f.call];
  ++t.injected;
  if (what.empty()) {
    ++t.held;
    if (options_.show_held)
      std::cout << "held " << c.label << ": " << f.call << " n = " << f.n << ", " << strerrorname_np(f.error)
                << ", status " << o.status << "\n";
    return;
  }
  findings_.push_back({c.label, f.call, f.n, f.error, o, what});
}

// n = 1, 2, ... until the run makes fewer calls than n: that run had no fault and must
// be a clean one. Directories are made only where none are yet, so mkdir fails into an
// empty output directory; every other call into one holding an earlier run's outputs.
void Harness::inject_all(const Case& c, const std::string& call, const Reference& clean, const fs::path& dir) {
  fs::create_directories(dir);
  const Reference ref = call == "mkdir" ? Reference{{}, clean.first, clean.counts, clean.midway_from_empty, {}} : clean;
  const Launch launch{(options_.bin / c.program).string(), c.args, dir};
  const std::vector<int> errors = errors_for(call);
  const auto index = static_cast<std::size_t>(call_index(call));
  // Far more calls than a clean run makes: each failure makes the run try again.
  const long limit = 4 * clean.counts[index] + 100;
  for (long n = 1;; ++n) {
    const Fault f{call, n, errors[static_cast<std::size_t>(n - 1) % errors.size()]};
    const Outcome o = run_once(launch, options_.shim, f, ref.first);
    if (o.counts[index] >= n && n > limit) {
      const std::lock_guard<std::mutex> guard(lock_);
      findings_.push_back({c.label, call, n, f.error, o, {"a failed call makes the run call again without end"}});
      return;
    }
    if (o.counts[index] >= n) {
      record(c, f, o, problems(f, o, ref));
      continue;
    }
    const std::vector<std::string> what = clean_run_problems(o, ref);
    if (!what.empty()) {
      const std::lock_guard<std::mutex> guard(lock_);
      findings_.push_back({c.label, call, n, 0, o, what});
    }
    return;
  }
}

void Harness::report(std::ostream& out, double seconds) const {
  out << "fault injection: injected/held per program and call\n";
  long injected = 0, held = 0;
  for (const auto& [label, calls] : tallies_) {
    out << "  " << label << ":";
    for (const char* call : kCalls) {
      const auto it = calls.find(call);
      if (it == calls.end()) continue;
      out << " " << call << " " << it->second.injected << "/" << it->second.held;
      injected += it->second.injected;
      held += it->second.held;
    }
    out << "\n";
  }
  out << "  total: " << injected << " faults injected, " << held << " held, " << findings_.size()
      << " did not hold; " << static_cast<long>(seconds) << " s\n";
  report_findings(out, findings_);
}

void Harness::write_findings(double seconds) const {
  if (options_.findings.empty()) return;
  std::ofstream out(options_.findings, std::ios::trunc);
  const std::time_t now = std::time(nullptr);
  char stamp[64];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S UTC", std::gmtime(&now));
  out << "# fault-injection findings, pass of " << stamp << "\n"
      << "# One case again: fault_harness --work DIR keeps the inputs in DIR/inputs; then in a\n"
      << "# directory holding a clean run's out/:\n"
      << "#   LD_PRELOAD=build/tests/fault/libfault_shim.so FAULT_DIR=$PWD/out FAULT_CALL=write \\\n"
      << "#   FAULT_N=3 FAULT_ERRNO=28 build/bin/pk_segy -HY -GS -LY -QY DIR/inputs/in.pk out\n"
      << "# (errno 28 ENOSPC, 5 EIO, 24 EMFILE, 12 ENOMEM, 11 EAGAIN)\n";
  report(out, seconds);
}

int Harness::run() {
  const auto start = std::chrono::steady_clock::now();
  const fs::path inputs = options_.work / "inputs";
  fs::create_directories(inputs);
  write_packet_input(inputs / "in.pk", 2);
  write_packet_input(inputs / "first_event.pk", 1);
  write_hbk_inputs(inputs);
  std::vector<std::pair<Case, std::string>> work;
  std::map<std::string, Reference> refs;
  for (const Case& c : cases(inputs)) {
    if (c.label.find(options_.only) == std::string::npos) continue;
    refs[c.label] = reference(c, options_.work / "reference", findings_);
    for (const char* call : kCalls)
      if (c.calls.empty() || std::find(c.calls.begin(), c.calls.end(), call) != c.calls.end()) work.emplace_back(c, call);
  }
  std::atomic<std::size_t> next{0};
  auto worker = [&] {
    for (std::size_t i; (i = next++) < work.size();)
      inject_all(work[i].first, work[i].second, refs[work[i].first.label], options_.work / ("run" + std::to_string(i)));
  };
  std::vector<std::thread> pool;
  for (unsigned j = 0; j < options_.jobs; ++j) pool.emplace_back(worker);
  for (auto& t : pool) t.join();
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  report(std::cout, seconds);
  write_findings(seconds);
  if (!options_.keep_work) fs::remove_all(options_.work);
  return findings_.empty() ? 0 : 1;
}

}  // namespace
}  // namespace fault

int main(int argc, char** argv) {
  try {
    return fault::Harness(fault::parse(argc, argv)).run();
  } catch (const std::exception& e) {
    std::cerr << "fault_harness: " << e.what() << "\n";
    return 2;
  }
}
