#include "tolvo/config/packaging/names.hpp"

#include <cctype>

namespace tolvo::config {

std::string canonicalize_name(std::string_view name)
{
  std::string out;
  out.reserve(name.size());
  bool in_run = false;
  for (char c : name) {
    if (c == '-' || c == '_' || c == '.') {
      if (!in_run) {
        out += '-';
      }
      in_run = true;
    } else {
      out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      in_run = false;
    }
  }
  return out;
}

} // namespace tolvo::config
