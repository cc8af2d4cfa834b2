// KCFile: a script's temporary object, in which its compiled code grows
// until the script is finished.
#pragma once

#include <cstddef>
#include <string_view>

#include "context/pell_file.h"

namespace kv {

class KCFile : public PellFile {
 public:
  using PellFile::PellFile;

  // A temporary object's code: its contents until its script is finished,
  // then kept elsewhere (see KCSystem::KeepCode); a check, which writes no
  // object, keeps only its size.
  std::string_view Code() const { return codeKept ? keptCode : contents; }
  size_t CodeSize() const { return codeKept ? keptCodeSize : contents.size(); }
  bool HasCode() const { return codeKept || !contents.empty(); }

  bool codeKept = false;
  std::string_view keptCode;
  size_t keptCodeSize = 0;
  // A check gives back the pages of the code up to here in this storage
  // (see KCSystem::DiscardCodeBehind).
  const char* codeDiscardedIn = nullptr;
  size_t codeDiscardedTo = 0;
};

}  // namespace kv
