// One line of text per published diagnostic, so that two analyses (or an
// analysis and a fresh one) can be compared line by line and a difference
// printed as it is.
#pragma once

#include <string>
#include <vector>

#include "workspace/analysis.h"

namespace kv {

// "PATH L:C-L:C SEVERITY [check] message | related…", in the order given,
// with messages in UTF-8.
std::vector<std::string> DiagnosticLines(const std::vector<FileDiagnostics>& files);

}  // namespace kv
