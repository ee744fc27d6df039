#include "report/program.h"

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <functional>
#include <unistd.h>

#include "common/failure.h"
#include "common/temporary_name.h"
#include "report/csv_writer.h"
#include "report/html_writer.h"
#include "report/report.h"

namespace report {

namespace fs = std::filesystem;
using pk::ExitCode;

namespace {

constexpr const char* kUsageText =
    "usage: pk_report OUTPUT_DIR [REPORT_DIR]\n"
    "Reads the headers of every SEG-Y (.RSY .SGY .EGY .RGY), SEISAN (.SEI), SAC (.sac) and miniSEED\n"
    "(.mseed, SDS day files NET.STA.LOC.CHAN.D.YEAR.DAY) file below OUTPUT_DIR and the run records in\n"
    "OUTPUT_DIR/runs, and writes report.csv and report.html into REPORT_DIR (default: OUTPUT_DIR).\n";

// Written under a hidden name and renamed when complete: a reader never sees half a report.
pk::Failure write_report_file(const fs::path& path, const std::function<void(std::ostream&)>& write) {
  const std::string owner = "pk_report-" + std::to_string(::getpid());
  const fs::path part = path.parent_path() / pk::temporary_name(path.filename().string(), owner, 0);
  std::ofstream file(part, std::ios::binary | std::ios::trunc);
  if (!file) return {ExitCode::open_error, "cannot create", path.string(), errno};
  errno = 0;
  write(file);
  file.close();
  // The stream keeps no errno of its own: the failed write's is still there.
  const int write_error = errno != 0 ? errno : EIO;
  std::error_code ec;
  if (file.fail() || (fs::rename(part, path, ec), ec)) {
    const int error = ec ? ec.value() : write_error;
    fs::remove(part, ec);
    return {ExitCode::write_error, "cannot write", path.string(), error};
  }
  return {};
}

pk::Failure write_reports(const fs::path& report_dir, const Report& r) {
  pk::Failure failed = write_report_file(report_dir / "report.csv", [&](std::ostream& o) { write_csv(o, r); });
  if (failed.failed()) return failed;
  return write_report_file(report_dir / "report.html", [&](std::ostream& o) { write_html(o, r); });
}

pk::Failure check_directories(const fs::path& dir, const fs::path& report_dir) {
  std::error_code ec;
  for (const fs::path& d : {dir, report_dir})
    if (!fs::is_directory(d, ec))
      return {ExitCode::no_directory, "cannot enter directory", d.string(), ec ? ec.value() : ENOTDIR};
  return {};
}

void print_summary(std::ostream& out, const Report& r) {
  out << "pk_report: " << r.traces.size() << " traces in " << r.rows.size() << " units, streams and channels, "
      << r.gap_count() << " gaps, " << r.overlap_count() << " overlaps, " << r.unreadable.size() << " unreadable files";
  if (!r.runs.empty())
    out << ", " << r.failed_runs() << " of " << r.runs.size() << " runs failed, " << r.warned_runs() << " warned";
  out << "\n";
}

}  // namespace

int run_pk_report(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.empty() || args.size() > 2 || args[0].starts_with('-')) {
    err << kUsageText;
    return pk::status_of(ExitCode::usage);
  }
  const fs::path dir = args[0], report_dir = args.size() == 2 ? fs::path(args[1]) : dir;
  Report r;
  pk::Failure failed = check_directories(dir, report_dir);
  if (!failed.failed()) {
    build_report(dir, r);
    failed = write_reports(report_dir, r);
  }
  if (failed.failed()) {
    err << pk::failure_line(failed);
    return pk::status_of(failed.code);
  }
  print_summary(out, r);
  out << "wrote " << (report_dir / "report.csv").string() << " and " << (report_dir / "report.html").string() << "\n";
  return pk::status_of(out.flush() ? ExitCode::ok : ExitCode::write_error);
}

}  // namespace report
