// SPDX-License-Identifier: MIT
#pragma once
// CMapDWordToObj: the map from a 32-bit key to an owned object whose iteration
// order the shared-file archive records: 17 buckets (key modulo 17) visited in
// order, each chain from its most recently inserted entry to its oldest. A new
// key goes to the head of its chain; an existing key keeps its place and gets
// the new value. A hash index beside the chains keeps look-ups constant-time
// however long the chains grow. Not thread-safe; the owner locks.

#include <array>
#include <cstdint>
#include <list>
#include <memory>
#include <unordered_map>

namespace vantrel {

template <class T>
class CMapDWordToObj {
 public:
  static constexpr uint32_t kBuckets = 17;

  // Inserts or replaces; the map owns the value. The replaced value is released.
  void set(uint32_t key, std::unique_ptr<T> value) {
    if (auto it = m_index.find(key); it != m_index.end()) {
      it->second->value = std::move(value);
      return;
    }
    auto& chain = m_buckets[key % kBuckets];
    chain.push_front(Node{key, std::move(value)});
    m_index.emplace(key, chain.begin());
  }

  T* find(uint32_t key) const {
    const auto it = m_index.find(key);
    return it == m_index.end() ? nullptr : it->second->value.get();
  }

  // Removes the entry and hands its value over; nullptr when absent.
  std::unique_ptr<T> take(uint32_t key) {
    const auto it = m_index.find(key);
    if (it == m_index.end()) return nullptr;
    std::unique_ptr<T> value = std::move(it->second->value);
    m_buckets[key % kBuckets].erase(it->second);
    m_index.erase(it);
    return value;
  }

  bool remove(uint32_t key) { return take(key) != nullptr; }

  void clear() {
    for (auto& chain : m_buckets) chain.clear();
    m_index.clear();
  }

  std::size_t size() const { return m_index.size(); }
  bool empty() const { return m_index.empty(); }

  // Visits (key, value&) in the map's iteration order. `fn` must not change the map.
  template <class Fn>
  void forEach(Fn&& fn) const {
    for (const auto& chain : m_buckets) {
      for (const auto& node : chain) fn(node.key, *node.value);
    }
  }

  void reserve(std::size_t count) { m_index.reserve(count); }

 private:
  struct Node {
    uint32_t key;
    std::unique_ptr<T> value;
  };
  std::array<std::list<Node>, kBuckets> m_buckets;
  std::unordered_map<uint32_t, typename std::list<Node>::iterator> m_index;
};

}  // namespace vantrel
