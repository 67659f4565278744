#pragma once
// ItemIndex: a category's content items in the order their content ids
// first arrived, with an index by content id. A profile may list millions of
// items, so they live in blocks (a deque), and the index is an
// open-addressed table of positions and hashes, so that probing seldom
// looks at an item.
//
// Thread safety: none; a plain container.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string_view>
#include <vector>

#include "content/content_item.h"

namespace hhsync {

class ItemIndex {
 public:
  static uint32_t Hash(std::string_view contentId);

  // Keeps the item, replacing an item of the same content id (the last one
  // added wins). hash is Hash(item.contentId()).
  void Add(ContentItem item, uint32_t hash);
  // The item stored under a content id, or null.
  ContentItem* Find(std::string_view contentId);
  // Asks the processor to fetch the index slot of a content id's hash.
  void Prefetch(uint32_t hash) const;

  std::size_t size() const { return items_.size(); }
  std::deque<ContentItem>::iterator begin() { return items_.begin(); }
  std::deque<ContentItem>::iterator end() { return items_.end(); }

 private:
  // One place of the index: an item's position + 1 (0: empty) and the hash
  // of its content id.
  struct Slot {
    uint32_t position = 0;
    uint32_t hash = 0;
  };
  // The slot that holds contentId, or the empty one where it would go.
  Slot* Probe(std::string_view contentId, uint32_t hash);
  void Grow();

  std::deque<ContentItem> items_;
  std::vector<Slot> slots_;
};

}  // namespace hhsync
