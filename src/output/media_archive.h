#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kv {

class KCSystem;

// Packs the files of one kind into a scrambled archive named `object_name`.
// Files are streamed through the scrambler, so memory stays flat whatever
// their size. True when written or when `files` is empty. Its internal
// errors are numbered steps of "GenImgAdoObject", as the converter has
// always printed them.
bool WriteMediaArchive(KCSystem& sys, std::string_view mark, const std::vector<std::string>& files,
                       const std::string& object_name, std::string_view start_message,
                       std::string_view finish_message);

}  // namespace kv
