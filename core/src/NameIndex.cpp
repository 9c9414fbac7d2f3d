#include "NameIndex.h"

#include <tallyfox/Unicode.h>

#include <algorithm>
#include <functional>

namespace tallyfox::detail {

namespace {

std::string_view text(std::span<const std::uint8_t> bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

}  // namespace

std::string_view NameIndex::keyOf(std::span<const std::uint8_t> name, std::string& scratch) const {
  const std::string_view bytes = text(name);
  if (Unicode::isAscii(bytes)) return bytes;
  scratch = Unicode::nfc(bytes);
  return scratch;
}

std::size_t NameIndex::slotOf(std::string_view key) const {
  const std::size_t mask = slots_.size() - 1;
  std::size_t slot = std::hash<std::string_view>{}(key)&mask;
  while (slots_[slot] != 0 && keys_[slots_[slot] - 1] != key) slot = (slot + 1) & mask;
  return slot;
}

void NameIndex::build(const DiskTree& tree, NodeRange children) {
  tree_ = &tree;
  first_ = children.first;
  const std::size_t n = children.empty() ? 0 : std::size_t(children.size());
  keys_.clear();
  arena_.clear();
  taken_.assign(n, 0);
  next_.assign(n, 0);

  // Normalized forms go to one arena first; views into it are taken once it stops growing.
  std::vector<std::uint64_t> arenaStart;
  arenaStart.reserve(n);
  for (NodeId child : children) {
    const std::string_view bytes = text(tree.nameView(child));
    arenaStart.push_back(arena_.size());
    if (!Unicode::isAscii(bytes)) arena_ += Unicode::nfc(bytes);
  }
  keys_.reserve(n);
  for (std::size_t k = 0; k < n; ++k) {
    const std::string_view bytes = text(tree.nameView(NodeId(first_ + std::int64_t(k))));
    if (Unicode::isAscii(bytes)) {
      keys_.push_back(bytes);
    } else {
      const std::size_t end = k + 1 < n ? arenaStart[k + 1] : arena_.size();
      keys_.emplace_back(arena_.data() + arenaStart[k], end - arenaStart[k]);
    }
  }

  std::size_t capacity = 16;
  while (capacity < 2 * n) capacity *= 2;
  slots_.assign(capacity, 0);
  // Tail of each key's chain, indexed by the chain's first child, so appends stay O(1).
  std::vector<std::uint32_t> tail(n, 0);
  for (std::size_t k = 0; k < n; ++k) {
    const std::size_t slot = slotOf(keys_[k]);
    if (slots_[slot] == 0) {
      slots_[slot] = std::uint32_t(k + 1);
      tail[k] = std::uint32_t(k);
    } else {
      const std::uint32_t head = slots_[slot] - 1;
      next_[tail[head]] = std::uint32_t(k + 1);
      tail[head] = std::uint32_t(k);
    }
  }
}

std::int64_t NameIndex::find(std::span<const std::uint8_t> name) {
  if (keys_.empty()) return none;
  const std::string_view key = keyOf(name, scratch_);
  const std::size_t slot = slotOf(key);
  if (slots_[slot] == 0) return none;
  const std::string_view bytes = text(name);
  std::int64_t firstFree = none;
  for (std::uint32_t k = slots_[slot]; k != 0; k = next_[k - 1]) {
    const std::size_t at = k - 1;
    if (taken_[at]) continue;
    if (text(tree_->nameView(NodeId(first_ + std::int64_t(at)))) == bytes) return std::int64_t(at);
    if (firstFree == none) firstFree = std::int64_t(at);
  }
  return firstFree;
}

std::optional<NodeId> NameIndex::child(const DiskTree& tree, NodeId folder, std::string_view name) {
  build(tree, tree.children(folder));
  const std::int64_t k = find({reinterpret_cast<const std::uint8_t*>(name.data()), name.size()});
  if (k == none) return std::nullopt;
  return node(k);
}

}  // namespace tallyfox::detail
