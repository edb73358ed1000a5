#include "tolvo/wheel/images.hpp"

#include "tolvo/errors.hpp"

namespace tolvo::wheel {

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
  throw NotImplementedError("ERROR: Unknown libc " + std::string(libc));
}

} // namespace tolvo::wheel
