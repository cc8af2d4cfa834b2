// The system's form of the program's CP932 paths on POSIX, where file names
// are UTF-8. POSIX only.
#pragma once

#include <string>
#include <string_view>

namespace kv {

// One name in the system's form: UTF-8 where it has a UTF-8 form, else its
// bytes as they are.
std::string SystemName(std::string_view cp932_name);

// A whole path in the system's form, name by name. A name that the system
// holds as CP932 bytes (listed as it is, not being UTF-8) is used as it is
// when no file has the UTF-8 form, so what a listing gave is always found
// again; a new file gets the UTF-8 form.
std::string SystemPath(const std::string& cp932_path);

}  // namespace kv
