#pragma once

// Filling the project templates. A template is text in format-string
// notation: `{name}` is replaced by the value of the placeholder `name`,
// `{{` and `}}` stand for literal braces. Values go in as they are, with no
// quoting for the target format.

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

/// `text` with every placeholder replaced by its value and every doubled
/// brace by a single one. A placeholder not in `values`, or a brace that is
/// neither doubled nor part of a placeholder, throws ValueError naming
/// `template_name` and the fault. Values not used by the text are fine.
std::string fill_template(std::string_view template_name, std::string_view text,
                          const TemplateValues& values);

} // namespace tolvo::config
