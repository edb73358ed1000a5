#include "tolvo/platform/python_repr.hpp"

#include <cstdint>
#include <cstdio>

namespace tolvo::platform {

namespace {

// Decodes one UTF-8 sequence at `pos`; returns the code point and advances
// `pos`. An invalid byte is returned as a negative value (minus the byte).
long decode_utf8(std::string_view text, std::size_t& pos)
{
  const auto lead = static_cast<unsigned char>(text[pos]);
  int length = 0;
  long code = 0;
  if (lead < 0x80) {
    ++pos;
    return lead;
  }
  if ((lead & 0xE0) == 0xC0) {
    length = 2;
    code = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3;
    code = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4;
    code = lead & 0x07;
  } else {
    ++pos;
    return -static_cast<long>(lead);
  }
  if (pos + length > text.size()) {
    ++pos;
    return -static_cast<long>(lead);
  }
  for (int i = 1; i < length; ++i) {
    const auto next = static_cast<unsigned char>(text[pos + i]);
    if ((next & 0xC0) != 0x80) {
      ++pos;
      return -static_cast<long>(lead);
    }
    code = (code << 6) | (next & 0x3F);
  }
  pos += length;
  return code;
}

// Python's str.isprintable() for the code points that occur in practice:
// control characters, the non-breaking and soft hyphen spaces, separators,
// format characters, private use and non-characters are not printable.
bool is_printable(long code)
{
  if (code < 0x20 || (code >= 0x7F && code <= 0xA0) || code == 0xAD) {
    return false;
  }
  if ((code >= 0x2000 && code <= 0x200F) || (code >= 0x2028 && code <= 0x202F) || (code >= 0x205F && code <= 0x206F) ||
      code == 0x3000 || code == 0xFEFF) {
    return false;
  }
  if ((code >= 0xD800 && code <= 0xF8FF) || code == 0xFFFE || code == 0xFFFF || code >= 0xF0000) {
    return false;
  }
  return true;
}

void append_escape(std::string& out, long code)
{
  char buffer[12];
  if (code <= 0xFF) {
    std::snprintf(buffer, sizeof buffer, "\\x%02x", static_cast<unsigned>(code));
  } else if (code <= 0xFFFF) {
    std::snprintf(buffer, sizeof buffer, "\\u%04x", static_cast<unsigned>(code));
  } else {
    std::snprintf(buffer, sizeof buffer, "\\U%08x", static_cast<unsigned>(code));
  }
  out += buffer;
}

} // namespace

std::string python_string_literal(std::string_view text)
{
  const bool has_single = text.find('\'') != std::string_view::npos;
  const bool has_double = text.find('"') != std::string_view::npos;
  const char quote = (has_single && !has_double) ? '"' : '\'';

  std::string out;
  out.reserve(text.size() + 2);
  out += quote;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t start = pos;
    const long code = decode_utf8(text, pos);
    if (code < 0) {
      // Not UTF-8: show the byte, as Python shows a surrogate-escaped one.
      append_escape(out, -code);
    } else if (code == '\\' || code == quote) {
      out += '\\';
      out += static_cast<char>(code);
    } else if (code == '\t') {
      out += "\\t";
    } else if (code == '\n') {
      out += "\\n";
    } else if (code == '\r') {
      out += "\\r";
    } else if (!is_printable(code)) {
      append_escape(out, code);
    } else {
      out.append(text.substr(start, pos - start));
    }
  }
  out += quote;
  return out;
}

std::string python_list_display(const std::vector<std::string>& items)
{
  std::string out = "[";
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i != 0) {
      out += ", ";
    }
    out += python_string_literal(items[i]);
  }
  out += ']';
  return out;
}

} // namespace tolvo::platform
