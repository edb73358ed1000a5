#include "tolvo/wheel/engine_args.hpp"

namespace tolvo::wheel {

std::string build_image_reference(std::string_view image_name)
{
  return std::string(REGISTRY_PREFIX) + std::string(image_name) + std::string(BUILD_IMAGE_TAG);
}

std::vector<std::string> emulation_registration_args()
{
  return {std::string(DOCKER_PROGRAM),         "run",       "--privileged", "--rm",
          std::string(BINFMT_INSTALLER_IMAGE), "--install", "all"};
}

std::vector<std::string> build_run_args(std::string_view mount, std::string_view image_reference,
                                        std::string_view script)
{
  return {std::string(DOCKER_PROGRAM),
          "run",
          "--rm",
          "-v",
          std::string(mount),
          std::string(image_reference),
          "/bin/bash",
          "-ec",
          std::string(script)};
}

std::vector<std::string> test_run_args(std::string_view mount, std::string_view platform, std::string_view image,
                                       std::string_view script)
{
  return {std::string(DOCKER_PROGRAM),
          "run",
          "--rm",
          "--volume",
          std::string(mount),
          "--platform=" + std::string(platform),
          std::string(image),
          "/bin/sh",
          "-ec",
          std::string(script)};
}

} // namespace tolvo::wheel
