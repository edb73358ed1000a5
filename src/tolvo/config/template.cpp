#include "tolvo/config/template.hpp"

#include "tolvo/config/embedded_templates.hpp"
#include "tolvo/errors.hpp"
#include "tolvo/platform/python_repr.hpp"

#include <algorithm>
#include <array>
#include <cstdio>
#include <utility>

namespace tolvo::config {

std::string read_template(std::string_view name)
{
  const auto text = embedded_template(name);
  if (!text) {
    throw NotFoundError("template " + platform::python_string_literal(name) + " is not built into tolvo");
  }
  return std::string(*text);
}

std::string fill_template(std::string_view template_name, std::string_view text, const TemplateValues& values)
{
  const std::string where = "template " + platform::python_string_literal(template_name);
  std::string filled;
  filled.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (c == '}') {
      if (i + 1 < text.size() && text[i + 1] == '}') {
        filled += '}';
        i += 2;
        continue;
      }
      throw InvalidValue(where + ": single '}' at offset " + std::to_string(i) + " (write '}}' for a literal brace)");
    }
    if (c != '{') {
      filled += c;
      ++i;
      continue;
    }
    if (i + 1 < text.size() && text[i + 1] == '{') {
      filled += '{';
      i += 2;
      continue;
    }
    // A placeholder runs to the next closing brace; a brace of either kind
    // or the end of the text before it means the opening brace is unpaired.
    const std::size_t close = text.find_first_of("{}", i + 1);
    if (close == std::string_view::npos || text[close] != '}') {
      throw InvalidValue(where + ": unpaired '{' at offset " + std::to_string(i) + " (write '{{' for a literal brace)");
    }
    const std::string_view name = text.substr(i + 1, close - i - 1);
    const auto value = values.find(name);
    if (value == values.end()) {
      throw InvalidValue(where + ": unknown placeholder " + platform::python_string_literal(name) + " at offset " +
                         std::to_string(i));
    }
    filled += value->second;
    i = close + 1;
  }
  return filled;
}

std::string escape_toml_basic_string(std::string_view value)
{
  // TOML's short escapes; any other control character takes \uXXXX.
  static constexpr std::array<std::pair<char, std::string_view>, 7> SHORT_ESCAPES = {
    {{'\\', "\\\\"}, {'"', "\\\""}, {'\b', "\\b"}, {'\t', "\\t"}, {'\n', "\\n"}, {'\f', "\\f"}, {'\r', "\\r"}}};
  std::string escaped;
  escaped.reserve(value.size());
  for (const char c : value) {
    const auto byte = static_cast<unsigned char>(c);
    const auto* shorthand =
      std::find_if(SHORT_ESCAPES.begin(), SHORT_ESCAPES.end(), [c](const auto& escape) { return escape.first == c; });
    if (shorthand != SHORT_ESCAPES.end()) {
      escaped += shorthand->second;
    } else if (byte < 0x20 || byte == 0x7F) {
      char code[7];
      std::snprintf(code, sizeof code, "\\u%04X", static_cast<unsigned>(byte));
      escaped += code;
    } else {
      escaped += c;
    }
  }
  return escaped;
}

} // namespace tolvo::config
