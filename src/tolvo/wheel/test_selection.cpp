#include "tolvo/wheel/test_selection.hpp"

namespace tolvo::wheel {

std::optional<std::string> container_test_path(std::string_view path, const std::filesystem::path& project)
{
  // pytest takes "file::node": only the file part is a path.
  const std::size_t node = path.find("::");
  const std::string_view file = path.substr(0, node);
  const std::string_view node_id = node == std::string_view::npos ? std::string_view() : path.substr(node);

  std::filesystem::path relative = std::filesystem::path(file).lexically_normal();
  if (relative.is_absolute()) {
    relative = relative.lexically_relative(project.lexically_normal());
  }
  // "tests/" normalises to "tests/" with an empty last element.
  if (!relative.empty() && relative.filename().empty()) {
    relative = relative.parent_path();
  }
  // Normalised, a path leaving the tests directory starts outside it.
  if (relative.empty() || *relative.begin() != CONTAINER_TESTS_DIR) {
    return std::nullopt;
  }
  return relative.generic_string() + std::string(node_id);
}

} // namespace tolvo::wheel
