#include "tolvo/venv/refresh_mode.hpp"

#include "tolvo/errors.hpp"

#include <string>

namespace tolvo::venv {

RefreshMode parse_refresh_mode(std::string_view text, std::string_view origin)
{
  if (text == "always") {
    return RefreshMode::always;
  }
  if (text == "when-needed") {
    return RefreshMode::when_needed;
  }
  throw InvalidValue(std::string(origin) + ": unknown refresh mode '" + std::string(text) +
                     "' (expected 'always' or 'when-needed')");
}

} // namespace tolvo::venv
