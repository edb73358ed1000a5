#include "tolvo/platform/text.hpp"

#include <cctype>

namespace tolvo::platform {

std::string join(const std::vector<std::string>& items, std::string_view separator)
{
  std::string joined;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i > 0) {
      joined += separator;
    }
    joined += items[i];
  }
  return joined;
}

std::string_view strip(std::string_view text)
{
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())) != 0) {
    text.remove_prefix(1);
  }
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())) != 0) {
    text.remove_suffix(1);
  }
  return text;
}

std::size_t character_count(std::string_view text)
{
  std::size_t count = 0;
  for (const char byte : text) {
    // Continuation bytes (10xxxxxx) do not start a character.
    if ((static_cast<unsigned char>(byte) & 0xC0U) != 0x80U) {
      ++count;
    }
  }
  return count;
}

std::string abbreviate(std::string_view text, std::size_t most)
{
  std::size_t count = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0U) != 0x80U) {
      if (count == most) {
        return std::string(text.substr(0, i)) + "...";
      }
      ++count;
    }
  }
  return std::string(text);
}

} // namespace tolvo::platform
