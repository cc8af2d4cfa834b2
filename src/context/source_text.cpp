#include "context/source_text.h"

#include <algorithm>
#include <string_view>

#include "platform/bulk_memory.h"
#include "platform/console.h"

namespace kv {

void SourceText::DiscardTextBehind() {
  constexpr uint32_t kStep = uint32_t{1} << 20;
  if (position < scannedTo || position > contents.size() || position - scannedTo < kStep) return;
  const std::string_view searched(contents.data() + scannedTo, position - scannedTo);
  const size_t line_feed = searched.rfind('\n');
  const uint32_t searched_from = scannedTo;
  scannedTo = position;
  if (line_feed == std::string_view::npos) return;
  const uint32_t line_start = searched_from + static_cast<uint32_t>(line_feed) + 1;
  DiscardPages(contents.data() + discardedTo, line_start - discardedTo);
  discardedTo = line_start;
}

int32_t SourceText::LineAt(uint32_t offset) const {
  const uint32_t from = std::min(offset, position);
  const uint32_t to = std::min<size_t>(std::max(offset, position), contents.size());
  const int32_t between = from < to ? CountLineFeeds(contents.data() + from, to - from) : 0;
  return offset >= position ? line + between : line - between;
}

int32_t SourceText::ColumnAt(uint32_t offset) const {
  if (offset > contents.size()) return 0;
  const std::string_view before(contents.data(), offset);
  const size_t line_feed = before.rfind('\n');
  // What was removed from the line before the byte shifts it back to where
  // it stood; line feeds are never removed, so other lines play no part.
  if (!textFromUtf8) {
    auto shift_at = [this](size_t at) -> uint32_t {
      auto after = std::upper_bound(shifts.begin(), shifts.end(), at,
                                    [](size_t o, const TextShift& s) { return o < s.offset; });
      return after == shifts.begin() ? 0 : (after - 1)->shift;
    };
    if (line_feed == std::string_view::npos) return static_cast<int32_t>(offset + shift_at(offset) + 1);
    return static_cast<int32_t>(offset - line_feed + shift_at(offset) - shift_at(line_feed));
  }
  // A script read as UTF-8 counts the bytes its file has.
  const std::string_view in_line =
      line_feed == std::string_view::npos ? before : before.substr(line_feed + 1);
  size_t column = Cp932ToUtf8(in_line).size();
  const int32_t line_number = LineAt(offset);
  const auto after = std::upper_bound(
      lineShifts.begin(), lineShifts.end(), std::pair{line_number, column},
      [](const std::pair<int32_t, size_t>& at, const LineShift& s) {
        return at.first < s.line || (at.first == s.line && at.second < s.column);
      });
  if (after != lineShifts.begin() && (after - 1)->line == line_number) {
    column += (after - 1)->removed;
  }
  return static_cast<int32_t>(column + 1);
}

void SourceText::ShiftsByLine() {
  lineShifts.clear();
  int32_t line = 1;
  size_t line_start = 0;
  size_t counted = 0;           // line feeds are counted up to here
  uint32_t line_base = 0;       // the shift where the line begins
  uint32_t last_shift = 0;
  for (const TextShift& s : shifts) {
    const size_t to = std::min<size_t>(s.offset, contents.size());
    if (to > counted) {
      const int32_t line_feeds = CountLineFeeds(contents.data() + counted, to - counted);
      if (line_feeds != 0) {
        line += line_feeds;
        line_start = std::string_view(contents).rfind('\n', to - 1) + 1;
        line_base = last_shift;
      }
      counted = to;
    }
    lineShifts.push_back({line, static_cast<uint32_t>(s.offset - line_start), s.shift - line_base});
    last_shift = s.shift;
  }
}

}  // namespace kv
