// Getting stored files back out of an object, under a directory of the
// user's choosing, whatever the stored names hold: the media of an archive
// (-x) and the decompiled scripts of a script object (--source).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "kvdump/object_reader.h"
#include "platform/tree_writer.h"

namespace kv::kvdump {

// The place of a stored absolute path inside the extraction directory: its
// names split at '/' and '\' (a double-byte CP932 character, whose second
// byte may be '\', is never split), a leading drive letter ("C:") and empty
// and "." names dropped. False, with the reason, for a name that holds "..",
// a zero byte, or no name at all, and for a name that Windows would not
// store as the same file (WindowsWouldAlter): the rule is the same on every
// system, so an archive extracts alike on all of them.
bool RelativeComponents(std::string_view stored, std::vector<std::string>* components,
                        std::string* why);

// Why Windows would not store a file under the name `component` (CP932
// bytes, no separator) as that name: an alternate data stream (':'), a
// device (CON, PRN, AUX, NUL, COM1-9, LPT1-9, CONIN$, CONOUT$, also with an
// extension), a trailing dot or space (dropped), or a character no name may
// hold (< > " | ? * and control bytes). False when the name is safe.
bool WindowsWouldAlter(std::string_view component, std::string* why);

// The places of the scripts of a script object below the directory of
// --source: their stored paths made relative (RelativeComponents). False,
// with the entry and the reason, when a path is refused, when a script's name
// has no extension that -se can name, when two scripts share a place, or
// when the places, joined by `separator`, sort otherwise
// than the stored paths: the converter takes the scripts in that order (after
// main.txt), and converted there they would define their labels and
// functions in another order.
bool ScriptPlaces(const ObjectHeader& header, char separator,
                  std::vector<std::vector<std::string>>* places, size_t* entry, std::string* why);

// The components of a place joined by `separator`.
std::string Joined(const std::vector<std::string>& components, char separator = '/');

// Writes `contents` at the place of the stored path `stored`; false with the
// reason.
bool WriteStored(TreeWriter& writer, std::string_view stored, std::string_view contents,
                 bool overwrite, std::string* written, std::string* why);

// Writes every file of an archive through `writer`, without the zero byte the
// archive adds after each file. A line per file goes to *out ("path" written)
// or to *errors (why it was not written); the other files are still written.
// True when every file was written.
bool ExtractArchive(std::string_view image, const ObjectHeader& header, TreeWriter& writer,
                    bool overwrite, std::string* out, std::string* errors);

}  // namespace kv::kvdump
