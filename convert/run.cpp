#include "run.h"

#include <cstdio>

#include "lists.h"
#include "ring.h"
#include "writer.h"

namespace pk {

std::string shut_down_message(int code, const std::string& name) {
  switch (code) {
    case 1: return "\nProgram aborted by user";
    case 10: return "\nUnable to change to directory " + name;
    case 20: return "\nFile open error for " + name;
    case 21: return "\nFile read error for " + name;
    case 22: return "\nFile write error for " + name;
    case 23: return "\nERROR: unable to generate a unique filename " + name;
    case 29: return "\nUnexpected end of file error on input";
    case 40: return "\nMemory allocation error for " + name;
    case 41: return "\nMemory linkage error";
    case 130: return "\nSCSI RESET error";
    case 131: return "\nSCSI READY error";
    case 132: return "\nSCSI MODE error";
    case 133: return "\nSCSI LOW-LEVEL FORMAT error";
    case 134: return "\nSCSI PEL-KAN FORMAT error";
    case 135: return "\nSCSI READ error";
    case 136: return "\nSCSI WRITE error";
    default: return "\nUnknown error: processing terminated.";
  }
}

void shut_down(Run& run, int code, const std::string& name) {
  run.close_all_files();
  std::fputs(shut_down_message(code, name).c_str(), stdout);
  std::fflush(stdout);
  throw Fatal{code};
}

void exit_run(Run& run, int code) {
  run.close_all_files();
  std::fflush(stdout);
  throw Fatal{code};
}

void close_checked(Run& run, std::FILE*& file, const std::string& path) {
  if (!file) return;
  const bool failed = std::ferror(file) != 0;
  const int rc = std::fclose(file);
  file = nullptr;
  if (failed || rc != 0) shut_down(run, 22, path);
}

namespace {
void close_stream(std::FILE*& f) {
  if (f) std::fclose(f);
  f = nullptr;
}
}  // namespace

void Run::close_all_files() {
  close_stream(FdIn);
  close_stream(FdQcc);
  for (Unit_list_str* u : ring_nodes(start)) {
    close_stream(u->FdLog);
    close_stream(u->FdQcc);
    u->LogOpen = u->QccOpen = 0;
    for (Evt_list_str* e : ring_nodes(u->First_evt))
      for (File_list_str* f : ring_nodes(e->First_chan)) {
        close_stream(f->Fdout);
        f->Open = 0;
      }
  }
  N_opn_fls = 0;
}

void Run::free_lists() {
  Unit_list_str* head = start;
  start = nullptr;
  for (Unit_list_str* u : ring_nodes(head)) {
    for (Evt_list_str* e : ring_nodes(u->First_evt)) {
      for (File_list_str* f : ring_nodes(e->First_chan)) delete f;
      delete e;
    }
    delete u;
  }
}

Run::~Run() {
  close_all_files();
  temps.remove_all();
  free_lists();
}

}  // namespace pk
