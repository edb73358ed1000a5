#pragma once

// Small text helpers shared across the layers.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tolvo::platform {

/// `items` joined by `separator`.
std::string join(const std::vector<std::string>& items, std::string_view separator);

/// `text` without leading and trailing white space (as isspace() sees it).
std::string_view strip(std::string_view text);

/// The number of characters (UTF-8 code points) in `text`.
std::size_t character_count(std::string_view text);

/// The first `characters` characters of `text` (all of it when shorter),
/// never cutting a UTF-8 sequence.
std::string_view first_characters(std::string_view text, std::size_t characters);

/// How much of a user's text an error message quotes.
inline constexpr std::size_t QUOTED_TEXT_MOST = 200;

/// `text` as it is when it has at most `most` characters (UTF-8 code
/// points), else its first `most` characters and "...": input quoted in a
/// message, which must stay readable however long the input.
std::string abbreviate(std::string_view text, std::size_t most);

/// Whether `text` is well-formed UTF-8: no stray or missing continuation
/// bytes, no overlong forms, no surrogates, nothing above U+10FFFF.
bool is_utf8(std::string_view text);

} // namespace tolvo::platform
