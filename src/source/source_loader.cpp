#include "source/source_loader.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "driver/file_search.h"
#include "driver/kc_system.h"
#include "source/pell_file.h"

namespace kv {
namespace {

constexpr char kAlreadyLoaded[] = "ファイル \"%s\" は既に読み込まれています\n";
constexpr char kUnclosedComment[] = "コメントの終端が見つかりませんでした\n";

}  // namespace

KCFile* LoadSource(KCSystem& sys, const std::string& name) {
  std::string full_path;
  if (!ResolvePath(sys, name, &full_path)) return nullptr;

  const auto loaded = sys.LoadedSources.find(full_path);
  if (loaded != sys.LoadedSources.end()) {
    sys.log.Warning(kAlreadyLoaded, {LogArg::Path(full_path)});
    return loaded->second.get();
  }

  auto file = std::make_unique<KCFile>(sys.fs);
  if (!file->FileOpen(full_path, ModeRead)) {
    sys.log.Error(kMsgNameMayBeWrong, {LogArg::Path(full_path)});
    sys.log.Message(kMsgCannotRead, {LogArg::Path(full_path), LogArg::Path(file->error)});
    return nullptr;
  }
  if (!RemoveComments(sys, *file)) return nullptr;

  KCFile* source = file.get();
  sys.LoadedSources.emplace(full_path, std::move(file));
  return source;
}

// Removes, from `position` on, "//" comments up to (not including) their
// line feed and "/* */" comments except for the line feeds inside them, so
// every line keeps its number. A line comment on the last line takes the rest
// of the contents with it, the NUL appended at load included. Markers are
// found byte-wise, also inside string literals; block comments do not nest.
// The text only shrinks, so it is compacted in place (the write cursor never
// passes the read cursor); a source that fails is not kept.
bool RemoveComments(KCSystem& sys, KCFile& file) {
  std::string& text = file.contents;
  const size_t size = text.size();
  char* const p = text.data();
  size_t out = file.position;
  size_t i = file.position;
  while (i < size) {
    // Plain text up to the next slash moves in one piece.
    const void* slash = std::memchr(p + i, '/', size - i);
    const size_t next = slash ? static_cast<const char*>(slash) - p : size;
    if (out != i) std::memmove(p + out, p + i, next - i);
    out += next - i;
    i = next;
    if (i >= size) break;
    const char marker = i + 1 < size ? p[i + 1] : '\0';
    if (marker == '/') {
      const void* line_feed = std::memchr(p + i, '\n', size - i);
      if (line_feed == nullptr) break;
      p[out++] = '\n';
      i = static_cast<const char*>(line_feed) - p + 1;
    } else if (marker == '*') {
      // Every line feed before the comment is still in the text, so the
      // comment's line is counted from what has been kept.
      const size_t comment_start = out;
      i += 2;
      for (;;) {
        // Up to the next star only the line feeds stay.
        const void* star = std::memchr(p + i, '*', size - i);
        const size_t stop = star ? static_cast<const char*>(star) - p : size;
        for (const void* lf = std::memchr(p + i, '\n', stop - i); lf != nullptr;) {
          p[out++] = '\n';
          const char* after = static_cast<const char*>(lf) + 1;
          lf = std::memchr(after, '\n', p + stop - after);
        }
        i = stop;
        if (i >= size) {
          const int32_t line = 1 + static_cast<int32_t>(std::count(p, p + comment_start, '\n'));
          sys.log.ErrorAt(file.path, line, kUnclosedComment);
          return false;
        }
        ++i;
        if (i < size && p[i] == '/') {
          ++i;
          break;
        }
      }
    } else {
      p[out++] = '/';
      ++i;
    }
  }

  text.resize(out);
  file.position = 0;
  file.line = 1;
  return true;
}

void ReleaseSources(KCSystem& sys) {
  for (auto& [full_path, source] : sys.LoadedSources) {
    // A released source must not stay the one that prefixes diagnostics.
    if (sys.currentSource == source.get()) sys.currentSource = nullptr;
    source->Reset();
    source.reset();
  }
  sys.LoadedSources.clear();
}

}  // namespace kv
