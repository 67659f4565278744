#include "content/item_index.h"

#include <algorithm>
#include <functional>
#include <utility>

namespace hhsync {

uint32_t ItemIndex::Hash(std::string_view contentId) {
  return static_cast<uint32_t>(std::hash<std::string_view>{}(contentId));
}

ItemIndex::Slot* ItemIndex::Probe(std::string_view contentId, uint32_t hash) {
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t at = hash & mask;; at = (at + 1) & mask) {
    Slot& slot = slots_[at];
    if (slot.position == 0) return &slot;
    if (slot.hash == hash && items_[slot.position - 1].contentId() == contentId) return &slot;
  }
}

void ItemIndex::Grow() {
  std::vector<Slot> old = std::move(slots_);
  slots_.assign(std::max<std::size_t>(16, old.size() * 2), Slot{});
  const std::size_t mask = slots_.size() - 1;
  for (const Slot& slot : old) {
    if (slot.position == 0) continue;
    std::size_t at = slot.hash & mask;
    while (slots_[at].position != 0) at = (at + 1) & mask;
    slots_[at] = slot;
  }
}

void ItemIndex::Prefetch(uint32_t hash) const {
  if (!slots_.empty()) __builtin_prefetch(&slots_[hash & (slots_.size() - 1)], 1);
}

void ItemIndex::Add(ContentItem item, uint32_t hash) {
  if ((items_.size() + 1) * 2 > slots_.size()) Grow();
  Slot* slot = Probe(item.contentId(), hash);
  if (slot->position != 0) {
    items_[slot->position - 1] = std::move(item);
    return;
  }
  items_.push_back(std::move(item));
  *slot = Slot{static_cast<uint32_t>(items_.size()), hash};
}

ContentItem* ItemIndex::Find(std::string_view contentId) {
  if (slots_.empty()) return nullptr;
  const Slot* slot = Probe(contentId, Hash(contentId));
  return slot->position == 0 ? nullptr : &items_[slot->position - 1];
}

}  // namespace hhsync
