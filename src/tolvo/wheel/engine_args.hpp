#pragma once

// The argument lists tolvo gives the Docker command-line client, the one way
// it reaches a container engine. Pure: engine.hpp runs them.

#include <string>
#include <string_view>
#include <vector>

namespace tolvo::wheel {

/// Public registry that serves the PyPA manylinux and musllinux images.
inline constexpr std::string_view REGISTRY_PREFIX = "quay.io/pypa/";

/// Tag of the build images.
inline constexpr std::string_view BUILD_IMAGE_TAG = ":latest";

/// Widely used public image that registers QEMU binfmt handlers for all
/// architectures in the host kernel.
inline constexpr std::string_view BINFMT_INSTALLER_IMAGE = "tonistiigi/binfmt";

/// Where the project is mounted inside every container.
inline constexpr std::string_view MOUNT_POINT = "/src";

/// The program name of the client.
inline constexpr std::string_view DOCKER_PROGRAM = "docker";

/// "<registry prefix><image name>:latest".
std::string build_image_reference(std::string_view image_name);

/// docker run --privileged --rm <binfmt> --install all
std::vector<std::string> emulation_registration_args();

/// docker run --rm -v <mount> <image> /bin/bash -ec <script>
std::vector<std::string> build_run_args(std::string_view mount, std::string_view image_reference,
                                        std::string_view script);

/// docker run --rm --volume <mount> --platform=<platform> <image> /bin/sh -ec <script>
std::vector<std::string> test_run_args(std::string_view mount, std::string_view platform, std::string_view image,
                                       std::string_view script);

} // namespace tolvo::wheel
