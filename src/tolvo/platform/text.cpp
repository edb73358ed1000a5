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

std::string_view first_characters(std::string_view text, std::size_t characters)
{
  std::size_t seen = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0U) != 0x80U) {
      if (seen == characters) {
        return text.substr(0, i);
      }
      ++seen;
    }
  }
  return text;
}

std::string abbreviate(std::string_view text, std::size_t most)
{
  const std::string_view kept = first_characters(text, most);
  return kept.size() == text.size() ? std::string(text) : std::string(kept) + "...";
}

bool is_utf8(std::string_view text)
{
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    // The length of the sequence and the range its second byte must fall
    // in, which rules out overlong forms, surrogates and values past U+10FFFF.
    std::size_t length = 1;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead < 0x80) {
      ++i;
      continue;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      low = lead == 0xE0 ? 0xA0 : 0x80;
      high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      low = lead == 0xF0 ? 0x90 : 0x80;
      high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
      return false;
    }
    if (i + length > text.size()) {
      return false;
    }
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if (next < (k == 1 ? low : 0x80) || next > (k == 1 ? high : 0xBF)) {
        return false;
      }
    }
    i += length;
  }
  return true;
}

} // namespace tolvo::platform
