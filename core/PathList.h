// A list of file names held compactly: their bytes one after the other in blocks of 1 MiB and one
// 8-byte position each, not a string object (and often an allocation) per name. Nothing is ever
// copied to grow, so a list can fill nearly all the memory there is, and a run over a million
// files holds about as many bytes as its names have.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <initializer_list>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

namespace swelox {

class PathList {
 public:
  PathList() = default;
  PathList(std::initializer_list<std::string_view> paths);
  PathList(const std::vector<std::string>& paths);  // NOLINT: a vector of names is such a list

  // A path holds no NUL byte. Raises std::bad_alloc when memory runs out, leaving the list as it
  // was.
  void push_back(std::string_view path);
  template <typename Iterator>
  void assign(Iterator first, Iterator last) {
    clear();
    for (; first != last; ++first) push_back(*first);
  }
  void clear();

  size_t size() const { return positions_.size(); }
  bool empty() const { return positions_.empty(); }
  std::string_view view(size_t index) const;
  // A copy, for the functions that take a path as a string.
  std::string operator[](size_t index) const { return std::string(view(index)); }

  class const_iterator {
   public:
    using iterator_category = std::input_iterator_tag;
    using value_type = std::string;
    using difference_type = std::ptrdiff_t;
    using pointer = void;
    using reference = std::string;
    const_iterator() = default;
    const_iterator(const PathList* list, size_t index) : list_(list), index_(index) {}
    std::string operator*() const { return (*list_)[index_]; }
    const_iterator& operator++() {
      ++index_;
      return *this;
    }
    const_iterator operator++(int) {
      const_iterator before = *this;
      ++index_;
      return before;
    }
    bool operator==(const const_iterator& other) const = default;

   private:
    const PathList* list_ = nullptr;
    size_t index_ = 0;
  };
  const_iterator begin() const { return {this, 0}; }
  const_iterator end() const { return {this, size()}; }

 private:
  static constexpr size_t kBlockBytes = size_t{1} << 20;

  // Each name ends in a NUL byte; a block is kBlockBytes long, or one longer name's own.
  std::vector<std::vector<char>> blocks_;
  size_t usedInLast_ = 0;
  // Block index << 32 | offset in the block. A deque grows by pieces, never by copying.
  std::deque<uint64_t> positions_;
};

}  // namespace swelox
