#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace tallyfox::detail {

// A file-system object or a shared extent: 64-bit number plus the whole device number.
// Folding the device into the number's high bits would let objects of different devices
// (or inodes above 2^48, as overlay file systems hand out) collide and be counted as one.
struct Identity {
  std::uint64_t number;
  std::uint64_t device;
  bool operator==(const Identity&) const = default;
};

// A set of identities: for each device, its numbers in one array (open addressing, linear
// probing). A scan on btrfs inserts one key per file; a node allocated per key would cost more
// than the lookup, and a device stored with every key would double the memory. Header only:
// the scanner asks it about every hard-linked or cloned file, under a lock.
class IdentitySet {
 public:
  // True when the key was not there yet.
  bool insert(const Identity& key) { return numbersOf(key.device).insert(key.number); }
  bool contains(const Identity& key) const {
    for (const Numbers& numbers : devices_)
      if (numbers.device == key.device) return numbers.contains(key.number);
    return false;
  }
  bool empty() const { return devices_.empty(); }

 private:
  class Numbers {
   public:
    explicit Numbers(std::uint64_t device) : device(device) {}
    std::uint64_t device;

    bool insert(std::uint64_t number) {
      if (number == vacant) return !std::exchange(holdsVacant_, true);
      if (2 * (count_ + 1) > slots_.size()) grow();
      std::uint64_t& slot = slots_[slotOf(slots_, number)];
      if (slot == number) return false;
      slot = number;
      ++count_;
      return true;
    }
    bool contains(std::uint64_t number) const {
      if (number == vacant) return holdsVacant_;
      return !slots_.empty() && slots_[slotOf(slots_, number)] == number;
    }

   private:
    static constexpr std::uint64_t vacant = 0;
    std::vector<std::uint64_t> slots_;  // a power of two long, at most half full
    std::size_t count_ = 0;
    bool holdsVacant_ = false;

    // The number's slot, or the vacant one where it would go.
    static std::size_t slotOf(const std::vector<std::uint64_t>& slots, std::uint64_t number) {
      std::uint64_t h = number * 0x9E3779B97F4A7C15ull;
      h ^= h >> 31;
      const std::size_t mask = slots.size() - 1;
      for (std::size_t at = std::size_t(h * 0xBF58476D1CE4E5B9ull) & mask;; at = (at + 1) & mask)
        if (slots[at] == number || slots[at] == vacant) return at;
    }
    void grow() {
      std::vector<std::uint64_t> larger(std::max<std::size_t>(1024, 2 * slots_.size()), vacant);
      for (const std::uint64_t number : slots_)
        if (number != vacant) larger[slotOf(larger, number)] = number;
      slots_.swap(larger);
    }
  };

  // Few: a scan crosses a handful of devices at most, and mostly stays on the last one.
  std::vector<Numbers> devices_;
  std::size_t last_ = 0;

  Numbers& numbersOf(std::uint64_t device) {
    if (last_ < devices_.size() && devices_[last_].device == device) return devices_[last_];
    for (last_ = 0; last_ < devices_.size(); ++last_)
      if (devices_[last_].device == device) return devices_[last_];
    devices_.emplace_back(device);
    return devices_.back();
  }
};

}  // namespace tallyfox::detail
