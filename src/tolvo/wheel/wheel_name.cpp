#include "tolvo/wheel/wheel_name.hpp"

#include <algorithm>
#include <vector>

namespace tolvo::wheel {

namespace {

std::vector<std::string> split(std::string_view text, char separator)
{
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (true) {
    const std::size_t end = text.find(separator, start);
    parts.emplace_back(text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
    if (end == std::string_view::npos) {
      return parts;
    }
    start = end + 1;
  }
}

bool platform_fits(std::string_view platform, std::string_view libc)
{
  if (platform == "any" || platform.starts_with("linux_")) {
    return true;
  }
  return libc == "musl" ? platform.starts_with("musllinux_") : platform.starts_with("manylinux");
}

} // namespace

std::optional<WheelName> parse_wheel_name(std::string_view file_name)
{
  constexpr std::string_view SUFFIX = ".whl";
  if (!file_name.ends_with(SUFFIX)) {
    return std::nullopt;
  }
  file_name.remove_suffix(SUFFIX.size());
  std::vector<std::string> parts = split(file_name, '-');
  if ((parts.size() != 5 && parts.size() != 6) ||
      std::any_of(parts.begin(), parts.end(), [](const std::string& part) { return part.empty(); })) {
    return std::nullopt;
  }
  WheelName wheel;
  wheel.distribution = parts[0];
  wheel.version = parts[1];
  if (parts.size() == 6) {
    wheel.build_tag = parts[2];
  }
  const std::size_t tags = parts.size() - 3;
  wheel.python_tag = parts[tags];
  wheel.abi_tag = parts[tags + 1];
  wheel.platform_tag = parts[tags + 2];
  return wheel;
}

std::optional<config::Version> wheel_version(const WheelName& wheel)
{
  if (auto version = config::Version::try_parse(wheel.version)) {
    return version;
  }
  std::string unescaped = wheel.version;
  std::replace(unescaped.begin(), unescaped.end(), '_', '-');
  return config::Version::try_parse(unescaped);
}

bool fits_libc(const WheelName& wheel, std::string_view libc)
{
  const std::vector<std::string> platforms = split(wheel.platform_tag, '.');
  return std::any_of(platforms.begin(), platforms.end(),
                     [&](const std::string& platform) { return platform_fits(platform, libc); });
}

} // namespace tolvo::wheel
