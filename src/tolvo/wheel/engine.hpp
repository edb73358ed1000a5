#pragma once

// The Docker command-line client, the one way tolvo reaches a container
// engine. The argument lists are pure functions; the runners start them
// with output on the terminal and turn a non-zero status into an error.

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

/// The architecture containers run natively, without emulation.
inline constexpr std::string_view NATIVE_ARCH = "x86_64";

/// The program name of the client.
inline constexpr std::string_view DOCKER_PROGRAM = "docker";

/// "<registry prefix><image name>:latest".
std::string build_image_reference(std::string_view image_name);

/// The absolute current working directory followed by ":/src".
std::string volume_mount();

/// docker run --privileged --rm <binfmt> --install all
std::vector<std::string> emulation_registration_args();

/// docker run --rm -v <mount> <image> /bin/bash -ec <script>
std::vector<std::string> build_run_args(std::string_view mount, std::string_view image_reference,
                                        std::string_view script);

/// docker run --rm --volume <mount> --platform=<platform> <image> /bin/sh -ec <script>
std::vector<std::string> test_run_args(std::string_view mount, std::string_view platform,
                                       std::string_view image, std::string_view script);

/// Runs `args` with output on the terminal and waits. Throws RuntimeError
/// naming the argument list and the status when the status is not 0.
void run_engine(const std::vector<std::string>& args);

/// Registers CPU emulation in the host kernel through a privileged container.
void register_emulation();

/// Ends the process with status 1 after "Error: Docker is not available"
/// when the Docker client cannot be run: the precondition of every
/// container operation.
void require_docker();

} // namespace tolvo::wheel
