#include <tallyfox/DuplicateFinder.h>

#include <tallyfox/EntryNames.h>
#include <tallyfox/SnapshotPaths.h>

#include "linux/FileIO.h"
#include "linux/SharedExtents.h"

#include <openssl/evp.h>

#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <array>
#include <cstdlib>
#include <map>
#include <memory>
#include <new>
#include <system_error>
#include <thread>
#include <tuple>
#include <unordered_map>

namespace tallyfox {

namespace {

constexpr std::array<std::string_view, 6> neverSearched = {"Caches", ".build",   ".cache",
                                                           ".Trash", ".Trashes", "DerivedData"};
// Per-volume trash folders of the freedesktop.org trash: ".Trash-" followed by a user id.
constexpr std::string_view volumeTrashPrefix = ".Trash-";

// Folders that hold one application or plug-in with its libraries and resources, as they
// arrive on Linux disks from macOS (copies, backups, shared drives): a file found twice
// inside such folders belongs to its program, not to its user. Linux installs its programs
// into the system's folders, which a search of the user's own files does not enter.
constexpr std::array<std::string_view, 10> codeBundleExtensions = {
    "app", "framework", "appex", "bundle", "plugin", "xpc", "qlgenerator", "mdimporter", "saver", "prefpane"};

// Below the home folder: the default folders of the common sync clients (Dropbox, the
// cloud-storage folders of a home copied from macOS, Nextcloud, ownCloud, OneDrive, pCloud's
// drive mount), whose files a client may fetch again or keep in step with other machines.
constexpr std::array<std::string_view, 7> syncFolders = {
    "Dropbox",  "Library/CloudStorage", "Library/Mobile Documents", "Nextcloud", "ownCloud",
    "OneDrive", "pCloudDrive"};

// Only files with a notable share of their bytes on the disk are worth a bucket.
constexpr std::uint8_t excludedFileFlags =
    EntryFlags::error | EntryFlags::duplicateLink | EntryFlags::symlink | EntryFlags::dataless;

constexpr std::uint64_t edgeLimit = 2 * DuplicateFinder::edgeBytes;

std::string rawName(const DiskTree& tree, NodeId id) {
  const auto bytes = tree.nameView(id);
  return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

// A name that cannot address an entry of its folder: a damaged or hostile snapshot must not
// lead the search elsewhere. The children of an "all roots" tree's root name whole paths
// ("/home/ann").
bool unsafeName(std::string_view name, bool topLevel) {
  return topLevel ? !EntryNames::isTopLevelName(name) : !EntryNames::isEntryName(name);
}

// Far more hashing workers than any disk can feed only cost memory (a 1 MiB buffer each).
constexpr int maxThreads = 64;

std::string lowerExtension(std::string_view name) {
  const auto dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0 || dot + 1 == name.size()) return {};
  std::string extension(name.substr(dot + 1));
  for (char& c : extension)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return extension;
}

std::size_t characterCount(const std::string& text) {
  std::size_t count = 0;
  for (unsigned char c : text) count += (c & 0xC0) != 0x80;
  return count;
}

// One worker's SHA-256 state and read buffer, reused from file to file.
class Hasher {
 public:
  Hasher() : context_(EVP_MD_CTX_new()) {}
  ~Hasher() { EVP_MD_CTX_free(context_); }
  Hasher(const Hasher&) = delete;
  Hasher& operator=(const Hasher&) = delete;

  std::optional<std::string> edge(const std::string& path, std::uint64_t& bytesRead) {
    FileIO::Descriptor fd(SharedExtents::openForReading(path.c_str()));
    if (!fd) return std::nullopt;
    struct stat status;
    if (::fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode)) return std::nullopt;
    const std::uint64_t length = std::uint64_t(status.st_size);
    SharedExtents::adviseSequential(fd.get());
    if (!begin()) return std::nullopt;
    auto* buffer = bufferOf(DuplicateFinder::edgeBytes);
    const long head = FileIO::readUpToAt(fd.get(), buffer, DuplicateFinder::edgeBytes, 0);
    if (head < 0 || !update(buffer, std::size_t(head))) return std::nullopt;
    bytesRead += std::uint64_t(head);
    SharedExtents::dropCached(fd.get(), 0, std::uint64_t(head));
    if (length > edgeLimit) {
      const std::uint64_t offset = length - DuplicateFinder::edgeBytes;
      const long tail = FileIO::readUpToAt(fd.get(), buffer, DuplicateFinder::edgeBytes, offset);
      if (tail < 0 || !update(buffer, std::size_t(tail))) return std::nullopt;
      bytesRead += std::uint64_t(tail);
      SharedExtents::dropCached(fd.get(), offset, std::uint64_t(tail));
    }
    return finish();
  }

  std::optional<std::string> full(const std::string& path, std::uint64_t& bytesRead,
                                  const std::atomic<bool>& cancelled) {
    FileIO::Descriptor fd(SharedExtents::openForReading(path.c_str()));
    if (!fd) return std::nullopt;
    struct stat status;
    if (::fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode)) return std::nullopt;
    SharedExtents::adviseSequential(fd.get());
    if (!begin()) return std::nullopt;
    auto* buffer = bufferOf(DuplicateFinder::fullReadBytes);
    std::uint64_t offset = 0;
    for (;;) {
      if (cancelled.load(std::memory_order_relaxed)) return std::nullopt;
      const long n = FileIO::readUpTo(fd.get(), buffer, DuplicateFinder::fullReadBytes);
      if (n < 0) return std::nullopt;
      if (n == 0) break;
      if (!update(buffer, std::size_t(n))) return std::nullopt;
      SharedExtents::dropCached(fd.get(), offset, std::uint64_t(n));
      offset += std::uint64_t(n);
      bytesRead += std::uint64_t(n);
    }
    return finish();
  }

 private:
  std::uint8_t* bufferOf(std::size_t length) {
    if (buffer_.size() < length) buffer_.resize(length);
    return buffer_.data();
  }
  bool begin() { return context_ && EVP_DigestInit_ex(context_, EVP_sha256(), nullptr) == 1; }
  bool update(const std::uint8_t* data, std::size_t length) {
    return EVP_DigestUpdate(context_, data, length) == 1;
  }
  std::optional<std::string> finish() {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context_, digest, &length) != 1) return std::nullopt;
    static constexpr char hex[] = "0123456789abcdef";
    std::string text;
    text.reserve(length * 2);
    for (unsigned int k = 0; k < length; ++k) {
      text += hex[digest[k] >> 4];
      text += hex[digest[k] & 15];
    }
    return text;
  }

  EVP_MD_CTX* context_;
  std::vector<std::uint8_t> buffer_;
};

}  // namespace

struct DuplicateFinder::File {
  std::string path;
  bool inCode = false;
  std::uint64_t length = 0;
  std::uint64_t allocated = 0;
  dev_t device = 0;
  std::uint64_t cloneID = 0;
  bool sharesAll = false;
};

std::uint64_t DuplicateFinder::Group::savings() const {
  const std::int64_t extra = std::int64_t(paths.size()) - 1 - alreadyShared;
  return extra > 0 ? std::uint64_t(extra) * allocated : 0;
}

DuplicateFinder::DuplicateFinder(DiskTreePtr tree, NodeId base, Options options)
    : tree_(std::move(tree)), base_(base), options_(options), uid_(::getuid()) {
  progress_.phase = findingCandidates;
}

DuplicateFinder::DuplicateFinder(DiskTreePtr tree, NodeId base)
    : DuplicateFinder(std::move(tree), base, Options{}) {}

DuplicateFinder::Progress DuplicateFinder::progress() const {
  std::lock_guard guard(progressLock_);
  return progress_;
}

DuplicateFinder::ReadCounts DuplicateFinder::bytesRead() const {
  return {quickBytes_.load(std::memory_order_relaxed), fullBytes_.load(std::memory_order_relaxed)};
}

void DuplicateFinder::setProgress(std::string_view phase, std::int64_t total) {
  std::lock_guard guard(progressLock_);
  progress_.phase = phase;
  progress_.done = 0;
  progress_.total = total;
}

void DuplicateFinder::advance() {
  std::lock_guard guard(progressLock_);
  ++progress_.done;
}

const std::vector<std::string>& DuplicateFinder::syncRoots() {
  if (!syncRoots_) {
    const std::string home = PathText::homeDirectory();
    std::vector<std::string> roots;
    for (const auto folder : syncFolders)
      roots.push_back(SnapshotPaths::canonical(PathText::appendComponent(home, std::string(folder))));
    syncRoots_ = std::move(roots);
  }
  return *syncRoots_;
}

// The home trash as freedesktop.org lays it out. Its name ("Trash") is too
// common to skip by name alone.
std::vector<std::string> DuplicateFinder::trashRoots() const {
  const std::optional<std::string> data = PathText::dataHome();
  if (!data) return {};
  return {SnapshotPaths::canonical(PathText::appendComponent(*data, "Trash"))};
}

DuplicateFinder::Verdict DuplicateFinder::verdict(const std::string& path, std::string_view name,
                                                  bool inCode) {
  if (std::find(neverSearched.begin(), neverSearched.end(), name) != neverSearched.end())
    return Verdict::skip;
  if (name.substr(0, volumeTrashPrefix.size()) == volumeTrashPrefix) return Verdict::skip;
  if (!trashRoots_) trashRoots_ = trashRoots();
  if (std::find(trashRoots_->begin(), trashRoots_->end(), path) != trashRoots_->end()) return Verdict::skip;
  if (options_.excludeSyncFolders) {
    const auto& roots = syncRoots();
    if (std::find(roots.begin(), roots.end(), path) != roots.end()) return Verdict::skip;
  }
  const std::string extension = lowerExtension(name);
  if (extension.empty()) return inCode ? Verdict::descendInCode : Verdict::descend;
  if (std::find(codeBundleExtensions.begin(), codeBundleExtensions.end(), extension) !=
      codeBundleExtensions.end())
    return options_.excludeCodeBundles ? Verdict::skip : Verdict::descendInCode;
  // Linux has no packages (folders shown as one document), so nothing else is skipped.
  return inCode ? Verdict::descendInCode : Verdict::descend;
}

std::optional<std::string> DuplicateFinder::searchedPath() const {
  const auto ids = tree_->lineage(base_);
  if (ids.empty()) return SnapshotPaths::canonical(tree_->rootPath().empty() ? "/" : tree_->rootPath());
  std::string result;
  bool first = true;
  for (NodeId node : ids) {
    const std::string component = rawName(*tree_, node);
    if (unsafeName(component, first)) return std::nullopt;
    if (first) result = !component.empty() && component.front() == '/' ? std::string() : tree_->rootPath();
    PathText::appendComponentTo(result, component);
    first = false;
  }
  return SnapshotPaths::canonical(result);
}

std::optional<std::string> DuplicateFinder::edgeHash(const std::string& path, std::uint64_t* bytesRead) {
  Hasher hasher;
  std::uint64_t read = 0;
  auto hash = hasher.edge(path, read);
  if (bytesRead) *bytesRead += read;
  return hash;
}

std::optional<std::string> DuplicateFinder::fullHash(const std::string& path, std::uint64_t* bytesRead) {
  Hasher hasher;
  std::uint64_t read = 0;
  const std::atomic<bool> never{false};
  auto hash = hasher.full(path, read, never);
  if (bytesRead) *bytesRead += read;
  return hash;
}

// Worker k takes the files at k, k + n, k + 2n, ...: the lists are already grouped, so the
// stride spreads each group's reads over the workers without a queue. Each worker writes only
// its own slots of the result.
std::vector<std::optional<std::string>> DuplicateFinder::hashAll(const std::vector<File>& files,
                                                                 HashKind kind) {
  std::vector<std::optional<std::string>> hashes(files.size());
  if (files.empty()) return hashes;
  const std::size_t stride = std::size_t(std::clamp(options_.threads, 1, maxThreads));
  const std::size_t workers = std::min(stride, files.size());
  auto& counter = kind == HashKind::edge ? quickBytes_ : fullBytes_;
  auto work = [&](std::size_t first) {
    Hasher hasher;
    for (std::size_t k = first; k < files.size() && !isCancelled(); k += stride) {
      std::uint64_t read = 0;
      hashes[k] = kind == HashKind::edge ? hasher.edge(files[k].path, read)
                                         : hasher.full(files[k].path, read, cancelled_);
      counter.fetch_add(read, std::memory_order_relaxed);
      advance();
    }
  };
  // A thread that cannot be started (the process is at its limit) leaves its share of the
  // files to this one: fewer workers, the same result.
  std::vector<std::thread> threads;
  std::size_t started = 1;
  try {
    threads.reserve(workers - 1);
    for (; started < workers; ++started) threads.emplace_back(work, started);
  } catch (const std::system_error&) {
  } catch (const std::bad_alloc&) {
  }
  work(0);
  for (std::size_t k = started; k < workers; ++k) work(k);
  for (auto& thread : threads) thread.join();
  return hashes;
}

// One search, step by step; each step narrows the files the next one has to read.
struct DuplicateFinder::Search {
  DuplicateFinder& finder;

  struct Candidate {
    std::string path;
    bool inCode;
  };
  using SizeBuckets = std::map<std::uint64_t, std::vector<Candidate>>;
  using LengthGroups = std::map<std::pair<dev_t, std::uint64_t>, std::vector<File>>;
  using HashKey = std::tuple<dev_t, std::uint64_t, std::string>;
  using HashGroups = std::map<HashKey, std::vector<File>>;

  std::vector<Group> run() {
    SizeBuckets buckets = candidatesBySize();
    if (finder.isCancelled()) return {};
    const std::int64_t kept = dropUnpaired(buckets);
    std::optional<LengthGroups> byLength = filesByLength(buckets, kept);
    if (!byLength) return {};
    buckets.clear();
    std::vector<File> files = flatten(*byLength);
    HashGroups byEdge = groupByHash(files, quickCheck, HashKind::edge);
    if (finder.isCancelled()) return {};
    files = flatten(byEdge);
    HashGroups byContents = groupByHash(files, hashing, HashKind::full);
    if (finder.isCancelled()) return {};
    return groupsWithKeeperFirst(byContents);
  }

  // Candidates from the tree alone, bucketed by the tree's size.
  SizeBuckets candidatesBySize() {
    const DiskTree& tree = *finder.tree_;
    SizeBuckets buckets;
    if (const auto base = tree.contains(finder.base_) ? finder.searchedPath() : std::nullopt) {
      // Depth first with one path that grows and shrinks by one name at each step, so that the
      // walk costs the same whatever the depth: copying each folder's path for its children
      // would cost the depth for every entry.
      struct Frame {
        NodeId folder;
        NodeRange children;
        std::size_t pathLength;
        bool inCode;
      };
      std::string path = *base;
      std::vector<Frame> stack;
      stack.push_back({finder.base_, tree.children(finder.base_), path.size(), false});
      while (!stack.empty() && !finder.isCancelled()) {
        Frame& frame = stack.back();
        if (frame.children.empty()) {
          stack.pop_back();
          continue;
        }
        const NodeId child = frame.children.first++;
        // Only a child that names this folder as its parent is its own: a damaged or hostile
        // file whose child ranges overlap would otherwise be walked in exponential time.
        if (tree.parentOf(child) != frame.folder) continue;
        const auto bytes = tree.nameView(child);
        const std::string_view name(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        if (unsafeName(name, frame.folder == DiskTree::root)) continue;
        path.resize(frame.pathLength);
        PathText::appendComponentTo(path, name);
        // No file at or below a longer path can be opened by it (ENAMETOOLONG).
        if (path.size() >= PATH_MAX) continue;
        const bool inCode = frame.inCode;
        const std::uint8_t flags = tree.flags(child);
        if (flags & EntryFlags::directory) {
          const Verdict v = finder.verdict(path, name, inCode);
          if (v != Verdict::skip)
            stack.push_back({child, tree.children(child), path.size(), v == Verdict::descendInCode});
          continue;
        }
        const std::uint64_t size = tree.sizeOf(child);
        // Size 0 also covers clones and links already counted elsewhere in the scan.
        if (size == 0 || size < finder.options_.minimumSize || (flags & excludedFileFlags)) continue;
        buckets[size].push_back({path, inCode});
      }
    }
    return buckets;
  }

  // Drops the sizes that only one candidate has; returns how many candidates are left.
  static std::int64_t dropUnpaired(SizeBuckets& buckets) {
    std::int64_t kept = 0;
    for (auto it = buckets.begin(); it != buckets.end();) {
      if (it->second.size() < 2) {
        it = buckets.erase(it);
      } else {
        kept += std::int64_t(it->second.size());
        ++it;
      }
    }
    return kept;
  }

  // Status from the file system: only plain files of ours with one name each, grouped by
  // device and length. Nothing when the search was cancelled meanwhile.
  std::optional<LengthGroups> filesByLength(SizeBuckets& buckets, std::int64_t kept) {
    finder.setProgress(checkingFiles, kept);
    LengthGroups byLength;
    std::unordered_map<dev_t, bool> sharingDevices;
    for (auto& [size, candidates] : buckets) {
      for (auto& candidate : candidates) {
        if (finder.isCancelled()) return std::nullopt;
        finder.advance();
        struct stat status;
        if (::lstat(candidate.path.c_str(), &status) != 0) continue;
        if (!S_ISREG(status.st_mode) || status.st_uid != finder.uid_ || status.st_nlink != 1) continue;
        const std::uint64_t length = std::uint64_t(status.st_size);
        // The tree's size is allocated space, rounded up to blocks; the threshold is about
        // the contents.
        if (length < finder.options_.minimumSize) continue;
        File file{std::move(candidate.path),
                  candidate.inCode,
                  length,
                  std::uint64_t(status.st_blocks) * 512,
                  status.st_dev,
                  0,
                  false};
        auto shares = sharingDevices.find(status.st_dev);
        if (shares == sharingDevices.end())
          shares =
              sharingDevices.emplace(status.st_dev, SharedExtents::canSharePath(file.path.c_str())).first;
        if (shares->second) {
          FileIO::Descriptor fd(SharedExtents::openForReading(file.path.c_str()));
          if (fd) {
            const auto info = SharedExtents::cloneInfo(fd.get());
            file.cloneID = info.cloneID;
            file.sharesAll = info.sharesAll;
          }
        }
        byLength[{status.st_dev, length}].push_back(std::move(file));
      }
    }
    return byLength;
  }

  // The files of every group with at least two members, in group order; empties the groups.
  template <typename Groups>
  static std::vector<File> flatten(Groups& groups) {
    std::vector<File> files;
    for (auto& [key, members] : groups)
      if (members.size() >= 2)
        for (auto& file : members) files.push_back(std::move(file));
    groups.clear();
    return files;
  }

  // Files with the same device, length and hash of the given kind, together; a file that
  // could not be hashed drops out.
  HashGroups groupByHash(std::vector<File>& files, std::string_view phase, HashKind kind) {
    finder.setProgress(phase, std::int64_t(files.size()));
    std::vector<std::optional<std::string>> hashes = finder.hashAll(files, kind);
    HashGroups groups;
    for (std::size_t k = 0; k < files.size(); ++k) {
      if (!hashes[k]) continue;
      groups[{files[k].device, files[k].length, std::move(*hashes[k])}].push_back(std::move(files[k]));
    }
    return groups;
  }

  // Groups, the copy to keep first: one that already shares its storage (replacing the
  // others by clones of it frees the most), then one outside code bundles, then the
  // shortest path.
  static std::vector<Group> groupsWithKeeperFirst(HashGroups& byContents) {
    std::vector<Group> groups;
    for (auto& [key, members] : byContents) {
      if (members.size() < 2) continue;
      std::sort(members.begin(), members.end(), [](const File& a, const File& b) {
        if (a.sharesAll != b.sharesAll) return a.sharesAll;
        if (a.inCode != b.inCode) return !a.inCode;
        const auto la = characterCount(a.path), lb = characterCount(b.path);
        if (la != lb) return la < lb;
        return a.path < b.path;
      });
      Group group;
      const File& keeper = members.front();
      group.length = keeper.length;
      group.sha256 = std::get<2>(key);
      group.inCodeBundle = true;
      for (std::size_t k = 0; k < members.size(); ++k) {
        const File& file = members[k];
        group.allocated = std::max(group.allocated, file.allocated);
        group.inCodeBundle = group.inCodeBundle && file.inCode;
        if (k > 0 && keeper.sharesAll && file.sharesAll && file.cloneID != 0 &&
            file.cloneID == keeper.cloneID)
          ++group.alreadyShared;
        group.paths.push_back(file.path);
      }
      if (group.savings() > 0) groups.push_back(std::move(group));
    }
    std::stable_sort(groups.begin(), groups.end(),
                     [](const Group& a, const Group& b) { return a.savings() > b.savings(); });
    return groups;
  }
};

std::vector<DuplicateFinder::Group> DuplicateFinder::run() {
  return Search{*this}.run();
}

void to_json(nlohmann::json& json, const DuplicateFinder::Group& group) {
  json = nlohmann::json{
      {"length", group.length}, {"allocated", group.allocated},         {"sha256", group.sha256},
      {"paths", group.paths},   {"alreadyShared", group.alreadyShared}, {"inCodeBundle", group.inCodeBundle}};
}

void from_json(const nlohmann::json& json, DuplicateFinder::Group& group) {
  json.at("length").get_to(group.length);
  json.at("allocated").get_to(group.allocated);
  json.at("sha256").get_to(group.sha256);
  json.at("paths").get_to(group.paths);
  json.at("alreadyShared").get_to(group.alreadyShared);
  json.at("inCodeBundle").get_to(group.inCodeBundle);
}

}  // namespace tallyfox
