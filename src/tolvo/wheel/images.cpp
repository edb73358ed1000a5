#include "tolvo/wheel/images.hpp"

#include "tolvo/errors.hpp"

namespace tolvo::wheel {

namespace {

// ASCII only, whatever the locale says.
bool is_digit(char c)
{
  return c >= '0' && c <= '9';
}

bool is_letter(char c)
{
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

} // namespace

bool is_python_version(std::string_view python)
{
  if (python.ends_with('t')) {
    python.remove_suffix(1);
  }
  // Every dot must stand between two digits.
  bool after_digit = false;
  for (const char c : python) {
    if (is_digit(c)) {
      after_digit = true;
    } else if (c == '.' && after_digit) {
      after_digit = false;
    } else {
      return false;
    }
  }
  return after_digit;
}

bool is_architecture_name(std::string_view arch)
{
  if (arch.empty()) {
    return false;
  }
  for (const char c : arch) {
    if (!is_letter(c) && !is_digit(c) && c != '_' && c != '.' && c != '-') {
      return false;
    }
  }
  return true;
}

void check_target_values(std::string_view arch, std::string_view python)
{
  // Both are written into the build container's bash script as they are.
  if (!is_architecture_name(arch)) {
    throw InvalidValue("invalid --arch value '" + std::string(arch) +
                       "': only letters, digits, '_', '.' and '-' are allowed");
  }
  if (!is_python_version(python)) {
    throw InvalidValue("invalid --python value '" + std::string(python) +
                       "': expected a version such as 3.11 or 3.13t");
  }
}

std::string get_python_interpreter(std::string_view python_version)
{
  std::string digits;
  for (const char c : python_version) {
    if (c != '.') {
      digits.push_back(c);
    }
  }
  return "cp" + digits + "-cp" + digits;
}

std::string get_manylinux_image(std::string_view arch, std::string_view libc)
{
  const std::string name(arch);
  if (libc == "musl") {
    return "musllinux_1_2_" + name;
  }
  // These two architectures have no image on the common glibc baseline.
  if (arch == "armv7l") {
    return "manylinux_2_35_" + name;
  }
  if (arch == "riscv64") {
    return "manylinux_2_39_" + name;
  }
  return "manylinux_2_34_" + name;
}

std::string test_platform(std::string_view arch)
{
  if (arch == "i686") {
    return "linux/386";
  }
  if (arch == "armv7l") {
    return "linux/arm/v7";
  }
  return "linux/" + std::string(arch);
}

bool test_needs_rust(std::string_view arch, std::string_view libc)
{
  // No binary wheels of the tests' Rust-built dependencies exist for these
  // platforms, so pip has to compile them.
  if (arch == "i686" || arch == "s390x" || arch == "riscv64") {
    return true;
  }
  if (arch == "ppc64le" || arch == "armv7l") {
    return libc == "musl";
  }
  return false;
}

std::string test_image(std::string_view python, std::string_view libc)
{
  std::string image = "python:" + std::string(python);
  if (libc == "musl") {
    image += "-alpine";
  }
  return image;
}

std::string install_rust(std::string_view libc)
{
  if (libc == "musl") {
    return "apk add --no-cache gcc musl-dev python3-dev libffi-dev openssl-dev cargo pkgconfig;";
  }
  if (libc == "glibc") {
    return "apt-get update;DEBIAN_FRONTEND=\"noninteractive\" apt-get install -y rustc cargo;";
  }
  throw Unsupported("ERROR: Unknown libc " + std::string(libc));
}

} // namespace tolvo::wheel
