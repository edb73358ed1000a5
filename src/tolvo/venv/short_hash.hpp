#pragma once

// A short hash of byte strings for the refresh record, which detects
// change and guards against no one: FNV-1a, 64 bits.

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace tolvo::venv {

class ShortHash
{
public:
  /// Adds `bytes`, then a separator, so that ("ab", "c") and ("a", "bc") differ.
  void add(std::string_view bytes)
  {
    for (const char c : bytes) {
      mix(static_cast<unsigned char>(c));
    }
    mix(0xffU);
  }

  /// The value as 16 lower-case hex digits.
  std::string hex() const
  {
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(m_value));
    return text;
  }

private:
  void mix(unsigned value) { m_value = (m_value ^ value) * 1099511628211ULL; }

  std::uint64_t m_value = 14695981039346656037ULL;
};

} // namespace tolvo::venv
