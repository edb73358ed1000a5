#pragma once

// What an editable install of a project was built from, as far as a change
// to it needs the project built and installed again: the bytes of its
// top-level build files, and the path, size, time stamps and inode of every
// native source and build script below it. pip rebuilds an editable project
// on every install; an unchanged fingerprint tells that this would change
// nothing. Time stamps rather than contents keep the walk cheap enough for
// every run, and a file changed too shortly before the walk for its time
// stamps to tell a later change leaves no fingerprint at all.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tolvo::venv {

/// Whether a file of this name is a native source or a build script: C,
/// C++, Objective-C, Cython, Rust, Go, Zig, Fortran, CUDA, assembly and SWIG
/// sources, and the build files of setuptools, CMake, Meson, Cargo and make.
bool is_build_input(std::string_view name);

/// The fingerprint of the project in `directory`, walked at `now_ns`
/// (nanoseconds of real time since the epoch). The walk leaves out hidden
/// directories, `__pycache__`, `node_modules`, `*.egg-info` and virtual
/// environments (wherever they are), and the top-level output directories
/// `build`, `dist`, `target` and `wheelhouse`.
/// None when it cannot be taken: a directory cannot be read, a link leads
/// to a directory outside the project, another file system is mounted
/// inside, or a build input's status changed within the time stamps'
/// granularity of `now_ns`. Throws Interrupted.
std::optional<std::string> project_fingerprint(const std::string& directory, std::int64_t now_ns);

/// The same, walked now.
std::optional<std::string> project_fingerprint(const std::string& directory);

/// A short hash of the bytes of `files` (relative to `directory`), each
/// present or not: the sources of a dynamic version, which may be any file.
std::string files_digest(const std::string& directory, const std::vector<std::string>& files);

} // namespace tolvo::venv
