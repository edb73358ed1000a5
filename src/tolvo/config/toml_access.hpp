#pragma once

// Reading values out of a parsed TOML document the way the pyproject reader
// reports them: required and optional steps, type checks whose failures
// name the file and key path, values in Python's notation. Internal to the
// configuration layer.

#include "tolvo/config/toml.hpp"

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tolvo::config {

/// `node` as Python would show the parsed value ('text', True, [..], {..});
/// containers more than 16 levels down are shown as [...] and {...}.
std::string text_form(const toml::node& node);

/// Parses `bytes` read from `source`; InvalidValue naming the fault and its
/// position, or the limit of toml_limits.hpp that the text goes beyond.
toml::table parse_document(std::string_view bytes, std::string_view source);

/// `key` of `table`; MissingKeyError when absent.
const toml::node& required(const toml::table& table, std::string_view key);

/// `node` (found at `path`) as a table to look `key` up in; NotATable otherwise.
const toml::table& walk(const toml::node& node, std::string_view path, std::string_view key);

/// `node` (found at `path`) as a table, array, string or boolean;
/// AssertionFailure carrying the value's text form otherwise.
const toml::table& expect_table(const toml::node& node, std::string_view path);
const toml::array& expect_array(const toml::node& node, std::string_view path);
std::string expect_string(const toml::node& node, std::string_view path);
bool expect_bool(const toml::node& node, std::string_view path);

/// The items of `array`: strings as they are, anything else in its text form.
std::vector<std::string> items_of(const toml::array& array);

/// The entries of `table` in the order they were written (toml++ keeps
/// keys sorted).
std::vector<std::pair<const toml::key*, const toml::node*>> in_document_order(const toml::table& table);

} // namespace tolvo::config
