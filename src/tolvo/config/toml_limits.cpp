#include "tolvo/config/toml_limits.hpp"

#include "tolvo/errors.hpp"
#include "tolvo/platform/text.hpp"

#include <algorithm>
#include <string>

namespace tolvo::config {

namespace {

// ASCII only, whatever the locale: TOML's bare keys are.
bool is_bare_key_char(char c)
{
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
}

// One pass over the text that counts the parts of each dotted run (key
// segments joined by dots, blanks allowed around them) and the depth of the
// brackets, both outside strings and comments. Values such as 1.5 read as
// runs of two parts, which no limit comes near.
class LimitScan
{
public:
  LimitScan(std::string_view text, std::string_view source)
    : m_text(text),
      m_source(source)
  {}

  void run()
  {
    while (m_pos < m_text.size()) {
      const char c = m_text[m_pos];
      if (c == '#') {
        m_pos = std::min(m_text.find('\n', m_pos), m_text.size());
        end_run();
      } else if (c == '"' || c == '\'') {
        string(c);
      } else if (is_bare_key_char(c)) {
        const std::size_t start = m_pos;
        while (m_pos < m_text.size() && is_bare_key_char(m_text[m_pos])) {
          ++m_pos;
        }
        segment(start);
      } else if (c == '.') {
        m_dotted = m_parts > 0;
        ++m_pos;
      } else if (c == ' ' || c == '\t') {
        ++m_pos;
      } else {
        if (c == '[' || c == '{') {
          if (++m_depth > TOML_MAX_NESTING) {
            refuse(m_pos, "arrays and inline tables nested more than " + std::to_string(TOML_MAX_NESTING) + " deep");
          }
        } else if ((c == ']' || c == '}') && m_depth > 0) {
          --m_depth;
        }
        end_run();
        ++m_pos;
      }
    }
  }

private:
  void segment(std::size_t start)
  {
    m_parts = m_dotted ? m_parts + 1 : 1;
    m_dotted = false;
    if (m_parts > TOML_MAX_KEY_PARTS) {
      refuse(start, "a dotted key or table header of more than " + std::to_string(TOML_MAX_KEY_PARTS) + " parts");
    }
  }

  void end_run()
  {
    m_parts = 0;
    m_dotted = false;
  }

  // A one-line string is a key segment as much as a value; a multi-line one
  // is only ever a value. An unterminated one-line string ends at the line
  // end, where the parser will report it.
  void string(char quote)
  {
    const std::size_t start = m_pos;
    const bool escapes = quote == '"';
    const std::string delimiter(3, quote);
    if (m_text.compare(m_pos, 3, delimiter) == 0) {
      m_pos += 3;
      while (m_pos < m_text.size() && m_text.compare(m_pos, 3, delimiter) != 0) {
        m_pos = std::min(m_pos + (escapes && m_text[m_pos] == '\\' ? 2 : 1), m_text.size());
      }
      // Up to two quotes just before the closing three belong to the text.
      const std::size_t close = std::min(m_pos + 3, m_text.size());
      m_pos = close;
      while (m_pos < m_text.size() && m_pos < close + 2 && m_text[m_pos] == quote) {
        ++m_pos;
      }
      end_run();
      return;
    }
    ++m_pos;
    while (m_pos < m_text.size() && m_text[m_pos] != quote && m_text[m_pos] != '\n') {
      const bool escaped = escapes && m_text[m_pos] == '\\' && m_pos + 1 < m_text.size() && m_text[m_pos + 1] != '\n';
      m_pos += escaped ? 2 : 1;
    }
    if (m_pos < m_text.size() && m_text[m_pos] == quote) {
      ++m_pos;
    }
    segment(start);
  }

  [[noreturn]] void refuse(std::size_t at, const std::string& what) const
  {
    const std::string_view before = m_text.substr(0, std::min(at, m_text.size()));
    const std::size_t line = static_cast<std::size_t>(std::count(before.begin(), before.end(), '\n')) + 1;
    const std::size_t line_start = before.rfind('\n') == std::string_view::npos ? 0 : before.rfind('\n') + 1;
    const std::size_t column = platform::character_count(before.substr(line_start)) + 1;
    throw InvalidValue(std::string(m_source) + ": too deep to read: " + what + " (line " + std::to_string(line) +
                       ", column " + std::to_string(column) + ")");
  }

  std::string_view m_text;
  std::string_view m_source;
  std::size_t m_pos = 0;
  std::size_t m_depth = 0;
  std::size_t m_parts = 0;
  bool m_dotted = false;
};

} // namespace

void check_toml_limits(std::string_view bytes, std::string_view source)
{
  LimitScan(bytes, source).run();
}

} // namespace tolvo::config
