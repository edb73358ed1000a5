#pragma once

// Python's literal notation for strings and lists of strings. Python
// developers read tolvo's reports, so argument lists and exclude lists are
// shown the way Python itself would show them.

#include <string>
#include <string_view>
#include <vector>

namespace tolvo::platform {

/// `text` as Python's repr() shows a str: single quotes, or double quotes
/// when the text holds a single quote and no double quote; backslash, the
/// chosen quote and non-printable characters escaped.
std::string python_string_literal(std::string_view text);

/// The list as Python's repr() shows a list of str: ['a', 'b'], [] when empty.
std::string python_list_display(const std::vector<std::string>& items);

} // namespace tolvo::platform
