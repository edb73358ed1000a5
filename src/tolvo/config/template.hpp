#pragma once

// Filling the project templates. A template is text in format-string
// notation: `{name}` is replaced by the value of the placeholder `name`,
// `{{` and `}}` stand for literal braces. Values go in as they are; the
// caller escapes them for the target format (escape_toml_basic_string for
// the placeholders of pyproject.toml.tpl, which all stand between double
// quotes).

#include <functional>
#include <map>
#include <string>
#include <string_view>

namespace tolvo::config {

/// Placeholder name to value.
using TemplateValues = std::map<std::string, std::string, std::less<>>;

/// The text of the built-in template `name`; NotFoundError when tolvo has
/// no such template.
std::string read_template(std::string_view name);

/// `value` as the text between the double quotes of a TOML basic string:
/// backslash, double quote and control characters escaped, everything else
/// (UTF-8 included) as it is, so that an ordinary value reads unchanged.
std::string escape_toml_basic_string(std::string_view value);

/// `text` with every placeholder replaced by its value and every doubled
/// brace by a single one. A placeholder not in `values`, or a brace that is
/// neither doubled nor part of a placeholder, throws InvalidValue naming
/// `template_name` and the fault. Values not used by the text are fine.
std::string fill_template(std::string_view template_name, std::string_view text, const TemplateValues& values);

} // namespace tolvo::config
