// Names in blocks.
#include "core/PathList.h"

#include <algorithm>
#include <cstring>

namespace swelox {

PathList::PathList(std::initializer_list<std::string_view> paths) {
  for (const std::string_view path : paths) push_back(path);
}

PathList::PathList(const std::vector<std::string>& paths) {
  for (const std::string& path : paths) push_back(path);
}

void PathList::push_back(std::string_view path) {
  const size_t need = path.size() + 1;
  const bool newBlock = blocks_.empty() || usedInLast_ + need > blocks_.back().size();
  // Every allocation comes before any change, so that a failed one leaves the list as it was.
  std::vector<char> block;
  if (newBlock) {
    if (blocks_.size() == blocks_.capacity()) blocks_.reserve(blocks_.size() * 2 + 8);
    block.resize(std::max(kBlockBytes, need));
  }
  positions_.push_back(0);
  if (newBlock) {
    blocks_.push_back(std::move(block));
    usedInLast_ = 0;
  }
  char* at = blocks_.back().data() + usedInLast_;
  std::memcpy(at, path.data(), path.size());
  at[path.size()] = '\0';
  positions_.back() = (uint64_t{blocks_.size() - 1} << 32) | usedInLast_;
  usedInLast_ += need;
}

void PathList::clear() {
  blocks_.clear();
  usedInLast_ = 0;
  positions_.clear();
}

std::string_view PathList::view(size_t index) const {
  const uint64_t position = positions_[index];
  return blocks_[position >> 32].data() + (position & 0xFFFFFFFFu);
}

}  // namespace swelox
