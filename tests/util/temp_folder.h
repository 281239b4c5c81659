// A private folder under /tmp for one test, removed with everything in it afterwards, and
// whole-file reads and writes of exact bytes.
#pragma once

#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

namespace corvane::test {

struct TempFolder {
  std::string path = [] {
    char name[] = "/tmp/corvane-test-XXXXXX";
    return std::string(::mkdtemp(name) ? name : "");
  }();
  ~TempFolder() {
    ::chmod(path.c_str(), 0700);  // a read-only folder cannot be emptied, even by its owner
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
  std::string operator/(const std::string& name) const { return path + "/" + name; }
  long entries() const {
    return std::distance(std::filesystem::directory_iterator(path), std::filesystem::directory_iterator());
  }
};

inline void WriteRaw(const std::string& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

inline std::string ReadRaw(const std::string& path) {
  std::ostringstream out;
  out << std::ifstream(path, std::ios::binary).rdbuf();
  return out.str();
}

}  // namespace corvane::test
