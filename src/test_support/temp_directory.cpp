#include "test_support/temp_directory.h"

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <system_error>

#include "platform/file_system.h"

namespace kv {

namespace fs = std::filesystem;

namespace {

// Tests name files in UTF-8, on Windows too.
fs::path TestPath(const std::string& path) {
  return fs::path(std::u8string(path.begin(), path.end()));
}

}  // namespace

TempDirectory::TempDirectory() {
  std::random_device random;
  fs::path base = fs::temp_directory_path();
  for (;;) {
    fs::path candidate = base / ("kv-test-" + std::to_string(random()));
    if (fs::create_directory(candidate)) {
      path_ = candidate.string();
      return;
    }
  }
}

TempDirectory::~TempDirectory() {
  std::error_code error;
  fs::remove_all(path_, error);
}

std::string TempDirectory::operator/(const std::string& name) const {
  std::string path = path_ + kNativeSeparator + name;
  for (char& c : path) {
    if (c == '/') c = kNativeSeparator;
  }
  return path;
}

void WriteTestFile(const std::string& path, const std::string& contents) {
  fs::create_directories(TestPath(path).parent_path());
  std::ofstream(TestPath(path), std::ios::binary) << contents;
}

std::string ReadTestFile(const std::string& path) {
  std::ifstream in(TestPath(path), std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

size_t CountEntries(const std::string& directory) {
  size_t n = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(TestPath(directory))) ++n;
  return n;
}

bool TestFileExists(const std::string& path) {
  std::error_code error;
  return fs::exists(TestPath(path), error);
}

}  // namespace kv
