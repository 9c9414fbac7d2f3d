#include <tallyfox/TreeColumnsBuilder.h>

#include "SideWork.h"
#include "linux/Memory.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <functional>
#include <limits>
#include <stdexcept>
#include <type_traits>
#include <utility>

namespace tallyfox {

namespace {

// Growth past the mapped stretch maps at least this much more (and an eighth of what is
// there), so that a scan's many small batches cost a handful of system calls. Below the
// step the stretch doubles instead: a tree of a few nodes (a small merge, a short file)
// must not map megabytes it never writes.
constexpr std::size_t readyNodesStep = 65536;
constexpr std::size_t readyNameBytesStep = 1 << 20;

std::size_t nextReady(std::size_t ready, std::size_t needed, std::size_t step) {
  return std::max(needed, ready + std::max(ready / 8, std::min(step, ready)));
}

// Room past the names to copy short ones 16 bytes at a time.
constexpr std::size_t slack = 16;

// Where name id lies in the builder's names, as far as it lies inside them: a name beyond
// the buffer (only if the builder was filled inconsistently) is left empty.
std::uint64_t nameLengthOf(const TreeColumnsBuilder& b, std::size_t nameBytesSet, std::uint32_t id) {
  const std::uint64_t from = b.nameStart(id);
  const std::uint64_t length = b.nameLength(id);
  return from > nameBytesSet || length > nameBytesSet - from ? 0 : length;
}

// The final order of a builder's entries and the columns that come with it.
struct Arrangement {
  std::size_t nodes = 0;                  // reached from the root
  std::vector<std::uint32_t> order;       // scan id of each final id
  std::vector<std::uint32_t> entryCount;  // by final id
  std::vector<std::uint32_t> childCount;  // by final id
  std::uint64_t nameBytes = 0;            // of the nodes reached
};

// Where each node's children start, from how many each has: they follow those of the nodes
// before it, after the root. Calls out(k, start) for k = 0, 1, ...
template <typename Out>
void forEachChildStart(const std::vector<std::uint32_t>& childCount, std::size_t count, Out out) {
  std::uint32_t next = 1;
  for (std::size_t k = 0; k < count; ++k) {
    out(k, childCount[k] ? next : 0);
    next += childCount[k];
  }
}

// Whether a node hangs below a parent that exists: a test for every id, taken from the
// caller's own references to the columns so that its loop keeps them in registers.
auto linkedIn(const TreeColumnsBuilder& b, std::size_t n) {
  return [&present = b.present, &parent = b.parent, n](std::size_t id) {
    return present[id] && parent[id] >= 0 && std::size_t(parent[id]) < n;
  };
}

// Works out the final order in the builder's own arrays where it can: fresh memory is paid
// for page by page when first written. Flat arrays only: a counting sort into children
// lists, one pass to sum sizes upward, the per-folder sorts, a breadth-first pass that
// numbers the nodes, and one pass down the final ids that sums the entry counts. Afterwards
// the builder's parents are the final ones (by final id), its sizes are summed (by scan id),
// and the rest of its columns are untouched. Needs a builder whose root is present.
//
// One object for the steps because they hand each other the children lists, which every
// step reads in place and the last ones reuse as output columns.
class Arranger {
 public:
  Arranger(TreeColumnsBuilder& b, std::uint8_t directoryFlag)
      : b_(b),
        n_(b.parent.size()),
        directoryFlag_(directoryFlag),
        shared_(n_ >= nodesForSecondThread),
        nameBytesSet_(b.names.size()) {}

  Arrangement run(bool aggregate) {
    listChildren();
    if (aggregate) sumSizesUpward();
    sortChildrenBySize();
    numberBreadthFirst();
    return columnsOfArrangement(aggregate);
  }

 private:
  TreeColumnsBuilder& b_;
  const std::size_t n_;
  const std::uint8_t directoryFlag_;
  // A large tree's steps share their work with a second thread.
  const bool shared_;
  const std::size_t nameBytesSet_;
  // p's children are children_[first(p) ..< last(p)]: see listChildren.
  std::vector<std::uint32_t> bound_, children_, order_;
  // Whether every parent comes before its children, as in a scan, which reserves its ids
  // for a folder's entries after it has listed the folder.
  bool parentsFirst_ = true;
  std::size_t linkedCount_ = 0;
  std::uint64_t linkedNames_ = 0;
  std::size_t reached_ = 0;  // nodes numbered by numberBreadthFirst

  std::uint32_t first(std::uint32_t id) const { return bound_[id + 1]; }
  std::uint32_t last(std::uint32_t id) const { return bound_[id + 2]; }

  // Children lists by counting sort. bound[p + 1] first counts p's children, then after the
  // prefix sum marks the end of p's list; filling from the highest id down moves it to the
  // start of the list and leaves every list in increasing scan-id order. So p's children
  // are children[bound[p + 1] ..< bound[p + 2]].
  void listChildren() {
    const std::size_t n = n_;
    const auto& parent = b_.parent;
    const auto linked = linkedIn(b_, n);
    auto& bound = bound_;
    bound = Memory::filled<std::uint32_t>(n + 2, 0);
    // The other two arrays are mapped by a second thread meanwhile.
    SideWork mapping(shared_, [this, n] {
      // Sized for every node, not only the linked ones: it becomes the child-count column.
      children_ = Memory::filled<std::uint32_t>(n + 1);
      order_ = Memory::filled<std::uint32_t>(n);
    });
    // The names of the root and the linked nodes, read here in memory order: in a whole tree
    // they are the names of the nodes reached.
    bool parentsFirst = true;
    std::size_t linkedCount = 0;
    std::uint64_t linkedNames = nameLengthOf(b_, nameBytesSet_, 0);
    for (std::size_t id = 1; id < n; ++id)
      if (linked(id)) {
        ++bound[std::size_t(parent[id]) + 1];
        parentsFirst &= std::size_t(parent[id]) < id;
        ++linkedCount;
        linkedNames += nameLengthOf(b_, nameBytesSet_, std::uint32_t(id));
      }
    parentsFirst_ = parentsFirst;
    linkedCount_ = linkedCount;
    linkedNames_ = linkedNames;
    for (std::size_t i = 1; i <= n; ++i) bound[i] += bound[i - 1];
    bound[n + 1] = bound[n];
    mapping.wait();
    auto& children = children_;
    for (std::size_t id = n; id-- > 1;)
      if (linked(id)) children[--bound[std::size_t(parent[id]) + 1]] = std::uint32_t(id);
    order_[0] = 0;
  }

  // Sizes are summed upward children first. When parents come first, going down the ids
  // does that, in the order the columns lie in memory. Otherwise a breadth-first walk from
  // the root, taken backwards, does; it visits only the ids reached from the root, which are
  // the only ones that count. (Sums of ids not reached are never read, and saturated sums
  // come out alike in any order.)
  // A size sum past 2^64 - 1 (only sizes from outside reach it) stays at that largest size:
  // wrapped, it would be a small total that looks sound.
  void sumSizesUpward() {
    const std::size_t n = n_;
    const auto& parent = b_.parent;
    const auto linked = linkedIn(b_, n);
    auto& totalSize = b_.size;
    auto addUp = [&](std::uint32_t x) {
      const std::size_t p = std::size_t(parent[x]);
      if (__builtin_add_overflow(totalSize[p], totalSize[x], &totalSize[p]))
        totalSize[p] = std::numeric_limits<std::uint64_t>::max();
    };
    if (parentsFirst_) {
      for (std::size_t x = n; x-- > 1;)
        if (linked(x)) addUp(std::uint32_t(x));
    } else {
      auto& order = order_;
      const auto& children = children_;
      std::size_t reached = 1;
      for (std::size_t head = 0; head < reached; ++head) {
        const std::uint32_t id = order[head];
        for (std::uint32_t k = first(id); k < last(id); ++k) order[reached++] = children[k];
      }
      for (std::size_t pos = reached; pos-- > 1;) addUp(order[pos]);
    }
  }

  // Each folder's children, largest first. A large tree's folders are sorted by two
  // threads, each taking the folders that hold about half of the children.
  void sortChildrenBySize() {
    // Lists lie in the order of their folders' ids, so the first folder whose list starts in
    // the second half of all children splits the work.
    const std::size_t n = n_;
    std::size_t low = 0, high = n;
    const std::uint32_t half = last(std::uint32_t(n - 1)) / 2;
    while (low < high) {
      const std::size_t middle = low + (high - low) / 2;
      if (first(std::uint32_t(middle)) < half)
        low = middle + 1;
      else
        high = middle;
    }
    SideWork secondHalf(shared_, [this, low, n] { sortFolders(low, n); });
    sortFolders(0, low);
    secondHalf.wait();
  }

  // Children are listed in increasing scan id, so breaking ties by their place in the list
  // is the stable order, without the scratch buffer a stable sort allocates for every
  // folder. Each size is looked up once. Almost always a folder's sizes leave room below
  // them in 64 bits for the place in the list: each child is then one key (the distance
  // below the largest size, then the place), and whole keys sort about twice as fast as
  // pairs. Otherwise (sizes near the top of the range) (size, id) pairs are sorted.
  void sortFolders(std::size_t fromID, std::size_t toID) {
    auto& children = children_;
    const auto& totalSize = b_.size;
    std::vector<std::uint64_t> keys;
    std::vector<std::uint32_t> listed;
    std::vector<std::pair<std::uint64_t, std::uint32_t>> pairs;
    // Every folder's list, reached or not: those not reached are never read.
    for (std::size_t id = fromID; id < toID; ++id) {
      const std::uint32_t from = first(std::uint32_t(id)), to = last(std::uint32_t(id)), count = to - from;
      if (count < 2) continue;
      const int placeBits = std::bit_width(count - 1);
      std::uint64_t largest = 0;
      for (std::uint32_t j = from; j < to; ++j) largest = std::max(largest, totalSize[children[j]]);
      if (largest >> (64 - placeBits) == 0) {
        keys.resize(count);
        for (std::uint32_t j = from; j < to; ++j)
          keys[j - from] = (largest - totalSize[children[j]]) << placeBits | (j - from);
        std::sort(keys.begin(), keys.end());
        listed.assign(children.begin() + from, children.begin() + to);
        const std::uint64_t place = (std::uint64_t(1) << placeBits) - 1;
        for (std::uint32_t k = 0; k < count; ++k) children[from + k] = listed[keys[k] & place];
      } else {
        pairs.clear();
        for (std::uint32_t j = from; j < to; ++j) pairs.emplace_back(totalSize[children[j]], children[j]);
        std::sort(pairs.begin(), pairs.end(), [](const auto& a, const auto& c) {
          return a.first != c.first ? a.first > c.first : a.second < c.second;
        });
        for (std::uint32_t j = from; j < to; ++j) children[j] = pairs[j - from].second;
      }
    }
  }

  // The final order, breadth-first over the sorted lists from the root: a node's children
  // get the next free ids as it is visited, so the new parents come straight from the walk.
  // The walk rewrites order (it only reads positions it has already written), and the new
  // parents go where the scan's parents were, which nothing reads any more.
  void numberBreadthFirst() {
    auto& order = order_;
    auto& parent = b_.parent;
    const auto& children = children_;
    std::size_t tail = 1;
    for (std::size_t k = 0; k < tail; ++k) {
      const std::uint32_t id = order[k];
      for (std::uint32_t j = first(id); j < last(id); ++j) {
        order[tail] = children[j];
        parent[tail] = std::int32_t(k);
        ++tail;
      }
    }
    parent[0] = -1;
    reached_ = tail;
  }

  // Child counts go where the children lists were, then the entry counts (by final id)
  // where the bounds were. In final ids every child comes after its parent, so going down
  // them sums each subtree before its parent reads it, in the order the columns lie in
  // memory. An entry counts 1 in its parent if it is a leaf, otherwise its count; a folder's
  // own count then leaves out the folder itself. Entry counts cannot overflow, since each
  // entry adds one and ids are 31 bits.
  Arrangement columnsOfArrangement(bool aggregate) {
    const std::size_t m = reached_;
    const auto& order = order_;
    std::vector<std::uint32_t>& childCount = children_;
    for (std::size_t k = 0; k < m; ++k) childCount[k] = last(order[k]) - first(order[k]);
    std::vector<std::uint32_t>& entryCount = bound_;
    for (std::size_t k = 0; k < m; ++k) entryCount[k] = b_.entryCount(order[k]);
    if (aggregate) {
      const auto& parent = b_.parent;
      const auto& flags = b_.flags;
      const std::uint8_t directory = directoryFlag_;
      for (std::size_t k = m; k-- > 1;) {
        const bool folder = flags[order[k]] & directory;
        entryCount[std::size_t(parent[k])] += !folder && childCount[k] == 0 ? 1 : entryCount[k];
        if (folder) --entryCount[k];
      }
      if (flags[0] & directory) --entryCount[0];
    }

    Arrangement result;
    result.nodes = m;
    if (m == linkedCount_ + 1) {
      result.nameBytes = linkedNames_;
    } else {
      for (std::size_t k = 0; k < m; ++k) result.nameBytes += nameLengthOf(b_, nameBytesSet_, order[k]);
    }
    result.order = std::move(order_);
    result.entryCount = std::move(bound_);
    result.childCount = std::move(children_);
    return result;
  }
};

Arrangement arrangeInPlace(TreeColumnsBuilder& b, bool aggregate, std::uint8_t directoryFlag) {
  return Arranger(b, directoryFlag).run(aggregate);
}

constexpr std::uint64_t maxOffset = std::numeric_limits<std::uint32_t>::max();
// Names are found by 32-bit starts, and a snapshot's name offsets are 32 bits too.
constexpr std::size_t maxNameBytes = maxOffset;

// Pieces of about this many bytes: small enough to stay in the processor's cache between
// being gathered and being written, large enough that a system call per piece is nothing.
constexpr std::size_t pieceBytes = 256 * 1024;

using PieceOut = std::function<void(std::span<const std::uint8_t>)>;

template <typename T>
void handOut(const std::vector<T>& column, std::size_t count, const PieceOut& out) {
  if (count > 0) out({reinterpret_cast<const std::uint8_t*>(column.data()), count * sizeof(T)});
}

}  // namespace

std::uint32_t clampTime(std::int64_t seconds) {
  if (seconds < 0) return 0;
  if (seconds > std::int64_t(std::numeric_limits<std::uint32_t>::max()))
    return std::numeric_limits<std::uint32_t>::max();
  return std::uint32_t(seconds);
}

void TreeColumnsBuilder::reserve(std::size_t nodes, std::size_t nameBytes) {
  forEachNodeColumn([nodes](auto& column) { Memory::reserve(column, nodes); });
  present.reserve(nodes);
  Memory::reserve(names, std::min(nameBytes, maxNameBytes));
}

namespace {

// How far ahead of what is stored a builder that maps later keeps its pages mapped: half a
// step, but no more than it holds, so that a small tree still maps little.
std::size_t aheadOf(std::size_t stored, std::size_t step, const PagesToMap* later) {
  return later ? std::min(step / 2, stored) : 0;
}

}  // namespace

void PagesToMap::map() {
  for (const auto& [data, bytes] : regions_) Memory::populate(data, bytes);
  regions_.clear();
}

void TreeColumnsBuilder::growTo(std::size_t count, PagesToMap* later) {
  if (count <= parent.size()) return;
  const std::size_t wanted = count + aheadOf(count, readyNodesStep, later);
  if (wanted > readyNodes_) {
    const std::size_t target = nextReady(readyNodes_, wanted, readyNodesStep);
    Memory::Regions* regions = later ? &later->regions_ : nullptr;
    forEachNodeColumn([target, regions](auto& column) { Memory::prepare(column, target, regions); });
    if (target > present.capacity()) present.reserve(std::max(target, present.capacity() * 2));
    readyNodes_ = target;
  }
  parent.resize(count, -1);
  size.resize(count, 0);
  mtime.resize(count, 0);
  flags.resize(count, 0);
  nameStart_.resize(count, 0);
  nameLength_.resize(count, 0);
  if (countsKept_) counts_.resize(count, 1);
  present.resize(count, false);
}

void TreeColumnsBuilder::shrinkTo(std::size_t count) {
  if (count >= length()) return;
  forEachNodeColumn([count](auto& column) { column.resize(count); });
  present.resize(count);
  std::erase_if(longNames_, [count](const auto& entry) { return entry.first >= count; });
}

void TreeColumnsBuilder::setEntryCount(std::size_t id, std::uint32_t count) {
  if (!countsKept_) {
    if (count == 1) return;
    counts_ = Memory::filled<std::uint32_t>(length(), 1);
    countsKept_ = true;
  }
  counts_[id] = count;
}

void TreeColumnsBuilder::appendNames(std::span<const std::uint8_t> bytes, PagesToMap* later) {
  const std::size_t end = names.size() + bytes.size();
  if (end > maxNameBytes) throw std::length_error("names exceed 4 GB");
  const std::size_t wanted = end + aheadOf(end, readyNameBytesStep, later);
  if (wanted > readyNameBytes_) {
    readyNameBytes_ = nextReady(readyNameBytes_, wanted, readyNameBytesStep);
    Memory::prepare(names, readyNameBytes_, later ? &later->regions_ : nullptr);
  }
  names.insert(names.end(), bytes.begin(), bytes.end());
}

void TreeColumnsBuilder::setName(std::size_t id, std::size_t start, std::size_t length) {
  nameStart_[id] = std::uint32_t(start);
  if (length < longName) {
    nameLength_[id] = std::uint8_t(length);
  } else {
    nameLength_[id] = longName;
    longNames_[std::uint32_t(id)] = std::uint32_t(length);
  }
}

std::size_t TreeColumnsBuilder::longNameLength(std::size_t id) const {
  const auto found = longNames_.find(std::uint32_t(id));
  return found == longNames_.end() ? 0 : found->second;
}

void TreeColumnsBuilder::set(std::size_t id, std::int32_t parentID, std::span<const std::uint8_t> name,
                             std::uint64_t entrySize, std::int64_t entryMtime, std::uint32_t count,
                             std::uint8_t entryFlags) {
  growTo(id + 1);
  const std::size_t start = names.size();
  appendNames(name);
  parent[id] = parentID;
  size[id] = entrySize;
  mtime[id] = clampTime(entryMtime);
  setEntryCount(id, count);
  flags[id] = entryFlags;
  setName(id, start, name.size());
  present[id] = true;
}

void TreeColumnsBuilder::setRange(std::size_t first, std::int32_t parentID,
                                  std::span<const std::uint8_t> batchNames,
                                  std::span<const std::uint32_t> nameEnds,
                                  std::span<const std::uint64_t> sizes, std::span<const std::int64_t> mtimes,
                                  std::span<const std::uint8_t> batchFlags, PagesToMap* later) {
  const std::size_t count = std::min({sizes.size(), nameEnds.size(), mtimes.size(), batchFlags.size()});
  if (count == 0) return;
  growTo(first + count, later);
  const std::size_t base = names.size();
  appendNames(batchNames.first(std::min<std::size_t>(nameEnds[count - 1], batchNames.size())), later);
  std::uint32_t start = 0;
  for (std::size_t k = 0; k < count; ++k) {
    const std::size_t id = first + k;
    parent[id] = parentID;
    mtime[id] = clampTime(mtimes[k]);
    setName(id, base + start, nameEnds[k] - start);
    start = nameEnds[k];
  }
  if (countsKept_) std::fill_n(counts_.begin() + std::ptrdiff_t(first), count, 1);
  std::memcpy(size.data() + first, sizes.data(), count * sizeof(std::uint64_t));
  std::memcpy(flags.data() + first, batchFlags.data(), count);
  std::fill(present.begin() + std::ptrdiff_t(first), present.begin() + std::ptrdiff_t(first + count), true);
}

void TreeColumnsBuilder::addFlags(std::size_t id, std::uint8_t extra) {
  if (id < flags.size()) flags[id] |= extra;
}

void TreeColumnsBuilder::clear() {
  *this = TreeColumnsBuilder();
}

TreeColumns TreeColumnsBuilder::build(bool aggregate, std::uint8_t directoryFlag) const& {
  TreeColumnsBuilder copy = *this;
  return std::move(copy).build(aggregate, directoryFlag);
}

// The columns gathered one after another, each source let go as soon as it is gathered, and
// the names first, since their starts and lengths go with them.
TreeColumns TreeColumnsBuilder::build(bool aggregate, std::uint8_t directoryFlag) && {
  TreeColumns out;
  const std::size_t n = length();
  if (n == 0) return out;
  if (!present[0]) {
    // Nothing is reached: no entries, and the names end where they start.
    out.nameOffset = {0};
    clear();
    return out;
  }
  // What growTo() mapped ahead of the entries is never written now; the build needs the
  // memory more.
  forEachNodeColumn([](auto& column) { Memory::releaseUnused(column); });
  Memory::releaseUnused(names);
  readyNodes_ = n;
  readyNameBytes_ = names.size();

  // The result's names and their offsets, mapped while this thread sorts: mapping fresh
  // memory costs about as much as the sorting, and the tree's size bounds theirs.
  const std::size_t nameBytesSet = names.size();
  std::vector<std::uint8_t> outNames;
  std::vector<std::uint32_t> nameOffset;
  SideWork mapping(n >= nodesForSecondThread, [&, nameBytesSet] {
    nameOffset = Memory::filled<std::uint32_t>(n + 1);
    // Every reached name lies in the builder's buffer once, so its length is enough unless
    // the builder was filled inconsistently; then the buffer grows.
    outNames = Memory::filled<std::uint8_t>(nameBytesSet + slack);
  });
  Arrangement arranged = arrangeInPlace(*this, aggregate, directoryFlag);
  const std::size_t m = arranged.nodes;
  const std::vector<std::uint32_t>& order = arranged.order;
  mapping.wait();

  names.resize(nameBytesSet + slack);
  {
    std::uint64_t position = 0;
    for (std::size_t k = 0; k < m; ++k) {
      const std::uint32_t id = order[k];
      const std::uint64_t length = nameLengthOf(*this, nameBytesSet, id);
      if (position + length + slack > outNames.size())
        outNames.resize(std::max<std::size_t>(outNames.size() * 2, position + length + slack));
      std::uint8_t* to = outNames.data() + position;
      const std::uint8_t* source = names.data() + nameStart_[id];
      if (length > slack)
        std::memcpy(to, source, length);
      else if (length > 0)
        std::memcpy(to, source, slack);
      nameOffset[k] = std::uint32_t(std::min(position, maxOffset));
      position += length;
    }
    nameOffset[m] = std::uint32_t(std::min(position, maxOffset));
    outNames.resize(position);
  }
  Memory::release(names);
  Memory::release(nameStart_);
  Memory::release(nameLength_);

  auto gathered = [&](auto& from) {
    auto into = Memory::filled<typename std::remove_reference_t<decltype(from)>::value_type>(m);
    for (std::size_t k = 0; k < m; ++k) into[k] = from[order[k]];
    Memory::release(from);
    return into;
  };
  out.size = gathered(size);
  out.mtime = gathered(mtime);
  out.flags = gathered(flags);
  std::vector<std::uint32_t> childStart = Memory::filled<std::uint32_t>(m);
  forEachChildStart(arranged.childCount, m,
                    [&childStart](std::size_t k, std::uint32_t start) { childStart[k] = start; });

  auto take = [](auto& column, std::size_t count) {
    column.resize(count);
    return std::move(column);
  };
  out.parent = take(parent, m);
  out.entryCount = take(arranged.entryCount, m);
  out.childStart = std::move(childStart);
  out.childCount = take(arranged.childCount, m);
  out.nameOffset = take(nameOffset, m + 1);
  out.names = std::move(outNames);
  clear();
  return out;
}

ArrangedColumns TreeColumnsBuilder::arrange(bool aggregate, std::uint8_t directoryFlag) && {
  forEachNodeColumn([](auto& column) { Memory::releaseUnused(column); });
  Memory::releaseUnused(names);
  readyNodes_ = parent.size();
  readyNameBytes_ = names.size();
  ArrangedColumns out;
  if (empty()) return out;
  out.hasNameOffsets_ = true;
  if (present[0]) {
    Arrangement arranged = arrangeInPlace(*this, aggregate, directoryFlag);
    out.nodes_ = arranged.nodes;
    out.order_ = std::move(arranged.order);
    out.entryCount_ = std::move(arranged.entryCount);
    out.childCount_ = std::move(arranged.childCount);
    out.nameBytesSet_ = names.size();
    out.nameBytes_ = arranged.nameBytes;
    names.resize(out.nameBytesSet_ + slack);
  }
  // Nothing reached from the root: no entries, and the names end where they start.
  out.entries_ = std::move(*this);
  clear();
  return out;
}

template <typename T, typename Value>
void ArrangedColumns::gather(const PieceOut& out, Value value) const {
  constexpr std::size_t perPiece = pieceBytes / sizeof(T);
  std::vector<T> piece(std::min(perPiece, nodes_));
  for (std::size_t k = 0; k < nodes_;) {
    const std::size_t count = std::min(perPiece, nodes_ - k);
    for (std::size_t j = 0; j < count; ++j) piece[j] = value(order_[k + j]);
    handOut(piece, count, out);
    k += count;
  }
}

void ArrangedColumns::nameOffsets(const PieceOut& out) const {
  constexpr std::size_t perPiece = pieceBytes / sizeof(std::uint32_t);
  std::vector<std::uint32_t> piece(std::min(perPiece, nodes_ + 1));
  std::uint64_t position = 0;
  for (std::size_t k = 0; k <= nodes_;) {
    const std::size_t count = std::min(perPiece, nodes_ + 1 - k);
    for (std::size_t j = 0; j < count; ++j, ++k) {
      piece[j] = std::uint32_t(std::min(position, maxOffset));
      if (k < nodes_) position += nameLengthOf(entries_, nameBytesSet_, order_[k]);
    }
    handOut(piece, count, out);
  }
}

void ArrangedColumns::childStarts(const PieceOut& out) const {
  constexpr std::size_t perPiece = pieceBytes / sizeof(std::uint32_t);
  std::vector<std::uint32_t> piece(std::min(perPiece, nodes_));
  forEachChildStart(childCount_, nodes_, [&](std::size_t k, std::uint32_t start) {
    piece[k % perPiece] = start;
    if (k % perPiece == perPiece - 1 || k + 1 == nodes_) handOut(piece, k % perPiece + 1, out);
  });
}

void ArrangedColumns::names(const PieceOut& out) const {
  std::vector<std::uint8_t> piece(std::min<std::uint64_t>(pieceBytes, nameBytes_) + slack);
  const std::size_t room = piece.size() - slack;
  std::size_t used = 0;
  for (std::size_t k = 0; k < nodes_; ++k) {
    const std::uint32_t id = order_[k];
    const std::size_t length = nameLengthOf(entries_, nameBytesSet_, id);
    if (length == 0) continue;
    const std::uint8_t* source = entries_.names.data() + entries_.nameStart(id);
    if (used + length > room) {
      handOut(piece, used, out);
      used = 0;
      if (length > room) {
        out({source, length});
        continue;
      }
    }
    // Short names are copied 16 bytes at once, a copy of fixed length the compiler does in
    // place: the piece and the builder's names both have the room past their end.
    if (length <= slack)
      std::memcpy(piece.data() + used, source, slack);
    else
      std::memcpy(piece.data() + used, source, length);
    used += length;
  }
  handOut(piece, used, out);
}

void ArrangedColumns::forEachPiece(int column, const PieceOut& out) const {
  switch (column) {
    case 0:
      handOut(entries_.parent, nodes_, out);
      break;
    case 1:
      gather<std::uint64_t>(out, [this](std::uint32_t id) { return entries_.size[id]; });
      break;
    case 2:
      gather<std::uint32_t>(out, [this](std::uint32_t id) { return entries_.mtime[id]; });
      break;
    case 3:
      handOut(entryCount_, nodes_, out);
      break;
    case 4:
      gather<std::uint8_t>(out, [this](std::uint32_t id) { return entries_.flags[id]; });
      break;
    case 5:
      childStarts(out);
      break;
    case 6:
      handOut(childCount_, nodes_, out);
      break;
    case 7:
      if (hasNameOffsets_) nameOffsets(out);
      break;
    case 8:
      names(out);
      break;
    default:
      break;
  }
}

TreeColumns ArrangedColumns::columns() const {
  TreeColumns c;
  auto into = [this](int column, auto& v) {
    forEachPiece(column, [&v](std::span<const std::uint8_t> bytes) {
      const std::size_t old = v.size();
      v.resize(old + bytes.size() / sizeof(v[0]));
      std::memcpy(v.data() + old, bytes.data(), bytes.size());
    });
  };
  into(0, c.parent);
  into(1, c.size);
  into(2, c.mtime);
  into(3, c.entryCount);
  into(4, c.flags);
  into(5, c.childStart);
  into(6, c.childCount);
  into(7, c.nameOffset);
  into(8, c.names);
  return c;
}

}  // namespace tallyfox
