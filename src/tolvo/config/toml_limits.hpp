#pragma once

// How deep a TOML document tolvo hands to toml++. The library builds, walks
// and frees its tree recursively, one stack frame per level, and a level
// costs only a few bytes of text: a dotted key of 175,000 parts (350 KB)
// overflows the default 8 MiB stack, one of 22,000 parts a 1 MiB stack.
// Inline tables nest at most 256 deep in toml++, but each may carry a dotted
// key, so the two multiply. Text beyond these limits is refused before the
// library sees it. Real files stay far below them: the longest key of 58
// widely used pyproject.toml files has 7 parts, and their brackets nest at
// most 4 deep.

#include <cstddef>
#include <string_view>

namespace tolvo::config {

/// The most parts a dotted key or table header may have.
inline constexpr std::size_t TOML_MAX_KEY_PARTS = 64;

/// The deepest arrays and inline tables (and the brackets of a table
/// header) may nest. With TOML_MAX_KEY_PARTS this bounds the tree at about
/// 2,100 levels, a tenth of what overflows a 1 MiB stack.
inline constexpr std::size_t TOML_MAX_NESTING = 32;

/// Throws InvalidValue naming `source`, the limit and the line and column
/// where `bytes` first goes beyond a limit. Reads the text only as far as
/// strings, comments, keys and brackets go; whether it is valid TOML is
/// left to the parser.
void check_toml_limits(std::string_view bytes, std::string_view source);

} // namespace tolvo::config
