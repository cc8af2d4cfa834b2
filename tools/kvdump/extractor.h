// Getting the stored files back out of a media archive, under a directory of
// the user's choosing, whatever the stored names hold.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "kvdump/object_reader.h"
#include "platform/tree_writer.h"

namespace kv::kvdump {

// The place of a stored absolute path inside the extraction directory: its
// names split at '/' and '\', a leading drive letter ("C:") and empty and "."
// names dropped. False, with the reason, for a name that holds "..", a zero
// byte, or no name at all.
bool RelativeComponents(std::string_view stored, std::vector<std::string>* components,
                        std::string* why);

// Writes every file of an archive through `writer`, without the zero byte the
// archive adds after each file. A line per file goes to *out ("path" written)
// or to *errors (why it was not written); the other files are still written.
// True when every file was written.
bool ExtractArchive(std::string_view image, const ObjectHeader& header, TreeWriter& writer,
                    bool overwrite, std::string* out, std::string* errors);

}  // namespace kv::kvdump
