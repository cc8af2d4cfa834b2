// Structural check of an unscrambled script object, for tests and fuzz
// targets: what every object written by a run without errors must satisfy.
#pragma once

#include <string>
#include <vector>

namespace kv {

// True when `image` is a well-formed script object: the header's fields agree
// with each other and with the image's size, the scripts are listed once each
// in ascending byte order with their code back to back behind the header,
// every script's code is a sequence of complete commands, and every jump and
// every label or function position lands on a command of its script (or its
// end). Otherwise false, with the first problem found in *problem. The listed
// script paths go to *scripts.
bool CheckScriptObject(const std::string& image, std::vector<std::string>* scripts,
                       std::string* problem);

}  // namespace kv
