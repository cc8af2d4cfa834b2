#include "workspace/document_draft.h"

#include <gtest/gtest.h>

#include <random>

namespace kv {
namespace {

// Line starts of a text counted the plain way: after each LF, after each CR
// not followed by LF.
std::vector<size_t> ModelLineStarts(const std::string& text) {
  std::vector<size_t> starts = {0};
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    if (text[i] == '\r' || text[i] == '\n') starts.push_back(i + 1);
  }
  return starts;
}

void ExpectSame(const std::string& model, const DocumentDraft& draft, std::mt19937& random) {
  ASSERT_EQ(model.size(), draft.size());
  ASSERT_EQ(model, draft.Text());
  const std::vector<size_t> starts = ModelLineStarts(model);
  ASSERT_EQ(starts.size(), draft.LineCount());
  for (int probe = 0; probe < 8; ++probe) {
    const size_t line = random() % (starts.size() + 2);
    ASSERT_EQ(line < starts.size() ? starts[line] : model.size(), draft.LineStart(line)) << line;
    const size_t from = random() % (model.size() + 1);
    const size_t to = from + random() % 9000;
    ASSERT_EQ(model.substr(from, to - from), draft.Substring(from, to));
  }
}

// Random edits, small and large, anywhere (CR LF pairs cut and made,
// pieces emptied and overfilled), against a plain string.
TEST(DocumentDraft, RandomEditsMatchAPlainString) {
  std::mt19937 random(7);
  const std::string alphabet = "ab\r\n\r\n\xE3\x81\x82";
  auto some_text = [&](size_t n) {
    std::string text;
    for (size_t i = 0; i < n; ++i) text.push_back(alphabet[random() % alphabet.size()]);
    return text;
  };
  std::string model = some_text(50000);
  DocumentDraft draft(model);
  ExpectSame(model, draft, random);
  for (int step = 0; step < 3000; ++step) {
    const size_t from = random() % (model.size() + 1);
    const size_t removed = step % 97 == 0 ? random() % 20000 : random() % 4;
    const size_t inserted = step % 89 == 0 ? random() % 20000 : random() % 4;
    const std::string text = some_text(inserted);
    const size_t to = std::min(model.size(), from + removed);
    model.replace(from, to - from, text);
    draft.Replace(from, from + removed, text);
    if (step % 50 == 0) ExpectSame(model, draft, random);
  }
  ExpectSame(model, draft, random);
  draft.Replace(0, draft.size(), "");
  EXPECT_EQ(0u, draft.size());
  EXPECT_EQ(1u, draft.LineCount());
  draft.Replace(5, 9, "x\r");
  draft.Replace(2, 2, "\n");
  EXPECT_EQ("x\r\n", draft.Text());
  EXPECT_EQ(2u, draft.LineCount());
  EXPECT_EQ(3u, draft.LineStart(1));
}

}  // namespace
}  // namespace kv
