#pragma once

// A temporary directory that the test enters and that is removed, with the
// previous working directory restored, when the test ends.

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <stdlib.h>
#include <string>

namespace tolvo::testing {

class ScopedTempDir
{
public:
  /// Makes the directory in `base`, the system's temporary directory unless given.
  explicit ScopedTempDir(const std::filesystem::path& base = std::filesystem::temp_directory_path())
    : m_previous(std::filesystem::current_path())
  {
    std::string pattern = (base / "tolvo-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
      throw std::runtime_error("mkdtemp failed");
    }
    m_path = std::filesystem::canonical(pattern);
    std::filesystem::current_path(m_path);
  }

  ~ScopedTempDir()
  {
    std::error_code ignored;
    std::filesystem::current_path(m_previous, ignored);
    std::filesystem::remove_all(m_path, ignored);
  }

  ScopedTempDir(const ScopedTempDir&) = delete;
  ScopedTempDir& operator=(const ScopedTempDir&) = delete;

  const std::filesystem::path& path() const { return m_path; }

  /// Writes `content` to `relative` below the directory, creating parents.
  std::filesystem::path write(const std::filesystem::path& relative, const std::string& content) const
  {
    const std::filesystem::path target = m_path / relative;
    std::filesystem::create_directories(target.parent_path());
    std::ofstream(target, std::ios::binary) << content;
    return target;
  }

private:
  std::filesystem::path m_previous;
  std::filesystem::path m_path;
};

} // namespace tolvo::testing
