#pragma once

// PEP 503 name normalisation.

#include <string>
#include <string_view>

namespace tolvo::config {

/// Every run of "-", "_" and "." becomes one "-"; the whole is lower-cased.
std::string canonicalize_name(std::string_view name);

} // namespace tolvo::config
