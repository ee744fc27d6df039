// Output directories: made with their parents, every level checked, and their
// entries made durable on request.
#pragma once

#include <string>

namespace hbk {

// Creates `dir` (absolute) with every missing parent. Returns 0, or the errno of the
// level that could not be made, which `failed` then names. With `durable`, each new
// level's entry is synced in its parent before the next level is made.
int make_directories(const std::string& dir, bool durable, std::string& failed);

// The directory part of `path` without its trailing "/": "." when there is none.
std::string directory_of(const std::string& path);

}  // namespace hbk
