// Which files of a folder a piece of work opened, seen through inotify: the tests of stopping use
// it to show that a stopped run never opens the file after the ones it was working on.
#pragma once

#include <string>
#include <vector>

namespace swelox::test {

class OpenWatch {
 public:
  // Starts watching `folder`; throws when inotify cannot watch it.
  explicit OpenWatch(const std::string& folder);
  ~OpenWatch();
  OpenWatch(const OpenWatch&) = delete;
  OpenWatch& operator=(const OpenWatch&) = delete;

  // The names of the files opened since the watch began or the last call, in order.
  std::vector<std::string> Take();

 private:
  int watch_;
};

}  // namespace swelox::test
