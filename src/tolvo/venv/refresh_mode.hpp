#pragma once

// When tolvo refreshes the environment: every step every time ("always",
// the default), or only the steps the environment does not already
// satisfy ("when-needed").

#include <string_view>

namespace tolvo::venv {

enum class RefreshMode
{
  always,
  when_needed,
};

/// "always" or "when-needed"; InvalidValue naming `origin` and the value otherwise.
RefreshMode parse_refresh_mode(std::string_view text, std::string_view origin);

} // namespace tolvo::venv
