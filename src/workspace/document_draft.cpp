#include "workspace/document_draft.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace kv {

// A piece of the text and the subtree it heads, ordered by position (left
// before it, right after it) and balanced as a treap: each node's priority
// is at least its children's.
struct DocumentDraft::Node {
  std::string text;
  uint32_t priority = 0;
  size_t own_breaks = 0;
  size_t bytes = 0;   // of the subtree
  size_t breaks = 0;  // of the subtree
  std::unique_ptr<Node> left;
  std::unique_ptr<Node> right;
};

namespace {

using Node = DocumentDraft::Node;
using Tree = std::unique_ptr<Node>;

// Pieces hold at most this many bytes; a change rewrites the pieces it
// touches, so this bounds its cost beside its own size.
constexpr size_t kPieceBytes = 4096;

uint32_t NextPriority() {
  thread_local uint64_t state = 0x9E3779B97F4A7C15u;
  state ^= state << 13;
  state ^= state >> 7;
  state ^= state << 17;
  return static_cast<uint32_t>(state >> 32);
}

// Line breaks (CR LF, LF, CR) in a piece. A piece never ends with the CR of
// a CR LF pair (pieces are cut between the two nowhere), so the counts of the
// pieces add up to the text's.
size_t CountBreaks(std::string_view text) {
  size_t breaks = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' || (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n'))) {
      ++breaks;
    }
  }
  return breaks;
}

// The offset just after the `n`-th (1-based) line break of a piece that has
// at least `n`.
size_t AfterBreak(std::string_view text, size_t n) {
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    if ((text[i] == '\n' || text[i] == '\r') && --n == 0) return i + 1;
  }
  return text.size();
}

size_t Bytes(const Tree& t) { return t ? t->bytes : 0; }
size_t Breaks(const Tree& t) { return t ? t->breaks : 0; }

void Update(Node& node) {
  node.bytes = node.text.size() + Bytes(node.left) + Bytes(node.right);
  node.breaks = node.own_breaks + Breaks(node.left) + Breaks(node.right);
}

Tree MakeNode(std::string text) {
  auto node = std::make_unique<Node>();
  node->own_breaks = CountBreaks(text);
  node->text = std::move(text);
  node->priority = NextPriority();
  Update(*node);
  return node;
}

Tree Merge(Tree a, Tree b) {
  if (!a) return b;
  if (!b) return a;
  if (a->priority >= b->priority) {
    a->right = Merge(std::move(a->right), std::move(b));
    Update(*a);
    return a;
  }
  b->left = Merge(std::move(a), std::move(b->left));
  Update(*b);
  return b;
}

// Cuts a tree into its first `k` bytes and the rest; a piece that straddles
// the cut is cut in two.
std::pair<Tree, Tree> Split(Tree t, size_t k) {
  if (!t) return {nullptr, nullptr};
  const size_t left = Bytes(t->left);
  if (k <= left) {
    auto [a, b] = Split(std::move(t->left), k);
    t->left = std::move(b);
    Update(*t);
    return {std::move(a), std::move(t)};
  }
  if (k >= left + t->text.size()) {
    auto [a, b] = Split(std::move(t->right), k - left - t->text.size());
    t->right = std::move(a);
    Update(*t);
    return {std::move(t), std::move(b)};
  }
  const size_t cut = k - left;
  Tree suffix = MakeNode(t->text.substr(cut));
  t->text.resize(cut);
  t->own_breaks = CountBreaks(t->text);
  Tree right = std::move(t->right);
  Update(*t);
  return {std::move(t), Merge(std::move(suffix), std::move(right))};
}

// A tree of `text` in pieces of about the same size, at most kPieceBytes
// (a byte more where a CR LF pair would be cut), in time linear in the text.
Tree Build(std::string_view text) {
  if (text.empty()) return nullptr;
  const size_t count = (text.size() + kPieceBytes - 1) / kPieceBytes;
  const size_t target = (text.size() + count - 1) / count;
  // The right spine of the tree built so far, each the right child of the
  // one before (attached when it leaves the spine).
  std::vector<Tree> spine;
  auto fold = [&](Tree below) {
    Tree node = std::move(spine.back());
    spine.pop_back();
    node->right = std::move(below);
    Update(*node);
    return node;
  };
  size_t at = 0;
  while (at < text.size()) {
    size_t end = std::min(text.size(), at + target);
    if (end < text.size() && text[end - 1] == '\r' && text[end] == '\n') {
      end = end - 1 > at ? end - 1 : end + 1;
    }
    Tree node = MakeNode(std::string(text.substr(at, end - at)));
    at = end;
    Tree below;
    while (!spine.empty() && spine.back()->priority < node->priority) below = fold(std::move(below));
    node->left = std::move(below);
    Update(*node);
    spine.push_back(std::move(node));
  }
  Tree root;
  while (!spine.empty()) root = fold(std::move(root));
  return root;
}

size_t FirstPieceBytes(const Node* t) {
  while (t->left) t = t->left.get();
  return t->text.size();
}

size_t LastPieceBytes(const Node* t) {
  while (t->right) t = t->right.get();
  return t->text.size();
}

void Collect(const Node* t, size_t base, size_t from, size_t to, std::string* out) {
  if (t == nullptr || base >= to || base + t->bytes <= from) return;
  Collect(t->left.get(), base, from, to, out);
  const size_t start = base + Bytes(t->left);
  const size_t end = start + t->text.size();
  if (start < to && end > from) {
    const size_t a = std::max(start, from) - start;
    const size_t b = std::min(end, to) - start;
    out->append(t->text, a, b - a);
  }
  Collect(t->right.get(), end, from, to, out);
}

}  // namespace

DocumentDraft::DocumentDraft() = default;
DocumentDraft::DocumentDraft(std::string_view text) : root_(Build(text)) {}
DocumentDraft::~DocumentDraft() = default;
DocumentDraft::DocumentDraft(DocumentDraft&&) noexcept = default;
DocumentDraft& DocumentDraft::operator=(DocumentDraft&&) noexcept = default;

size_t DocumentDraft::size() const { return Bytes(root_); }

size_t DocumentDraft::LineCount() const { return Breaks(root_) + 1; }

size_t DocumentDraft::LineStart(size_t line) const {
  if (line == 0) return 0;
  if (line > Breaks(root_)) return size();
  // The offset just after the line-th break.
  size_t base = 0;
  const Node* t = root_.get();
  while (t != nullptr) {
    if (line <= Breaks(t->left)) {
      t = t->left.get();
      continue;
    }
    line -= Breaks(t->left);
    base += Bytes(t->left);
    if (line <= t->own_breaks) return base + AfterBreak(t->text, line);
    line -= t->own_breaks;
    base += t->text.size();
    t = t->right.get();
  }
  return size();
}

std::string DocumentDraft::Substring(size_t from, size_t to) const {
  std::string out;
  to = std::min(to, size());
  if (from >= to) return out;
  out.reserve(to - from);
  Collect(root_.get(), 0, from, to, &out);
  return out;
}

std::string DocumentDraft::Text() const { return Substring(0, size()); }

void DocumentDraft::Replace(size_t from, size_t to, std::string_view text) {
  to = std::min(to, size());
  from = std::min(from, to);
  auto [before, rest] = Split(std::move(root_), from);
  auto [removed, after] = Split(std::move(rest), to - from);
  removed.reset();
  // The pieces on either side of the change are cut again with it, so that
  // pieces stay near their full size and no CR LF pair is left cut.
  std::string joined;
  if (before) {
    const size_t cut = before->bytes - LastPieceBytes(before.get());
    auto [kept, last] = Split(std::move(before), cut);
    before = std::move(kept);
    joined = std::move(last->text);
  }
  joined.append(text);
  if (after) {
    const size_t cut = FirstPieceBytes(after.get());
    auto [first, kept] = Split(std::move(after), cut);
    after = std::move(kept);
    joined.append(first->text);
  }
  root_ = Merge(Merge(std::move(before), Build(joined)), std::move(after));
}

}  // namespace kv
