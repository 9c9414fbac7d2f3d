#pragma once

#include <tallyfox/DiskTree.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tallyfox::detail {

// Finds the children of one folder by name. Names match under Unicode canonical
// equivalence (NFC forms; pure-ASCII names are their own key and are never normalized);
// bytes that are not valid UTF-8 only match themselves.
//
// A folder on Linux may hold two names that are canonically equal but differ in bytes
// (an NFC and an NFD spelling are two different files there). Every child therefore stays
// in the index; a lookup prefers the child with identical bytes and can take children out
// one by one, so that no child is lost when names collide.
//
// One index per folder, rebuilt per use: a handful of flat arrays sized by the child count.
class NameIndex {
 public:
  static constexpr std::int64_t none = -1;

  void build(const DiskTree& tree, NodeRange children);
  std::int64_t size() const { return std::int64_t(keys_.size()); }
  NodeId node(std::int64_t k) const { return NodeId(first_ + k); }
  bool taken(std::int64_t k) const { return taken_[std::size_t(k)] != 0; }
  void take(std::int64_t k) { taken_[std::size_t(k)] = 1; }

  // The position of a child named like `name` that has not been taken (identical bytes
  // first, else the earliest canonically equal one), or `none`.
  std::int64_t find(std::span<const std::uint8_t> name);

  // The child of `folder` named `name` by the same rule: the one lookup of a name among a
  // folder's children that paths, merges and diffs share.
  std::optional<NodeId> child(const DiskTree& tree, NodeId folder, std::string_view name);

 private:
  std::string_view keyOf(std::span<const std::uint8_t> name, std::string& scratch) const;
  std::size_t slotOf(std::string_view key) const;

  const DiskTree* tree_ = nullptr;
  NodeId first_ = 0;
  std::string arena_;                   // NFC forms of non-ASCII names
  std::vector<std::string_view> keys_;  // per child: its bytes in the tree, or its NFC form
  std::vector<std::uint32_t> slots_;    // open addressing: first child of a key + 1, 0 = empty
  std::vector<std::uint32_t> next_;     // per child: next child with an equal key + 1, 0 = end
  std::vector<std::uint8_t> taken_;
  std::string scratch_;
};

}  // namespace tallyfox::detail
