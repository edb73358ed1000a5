#include "tolvo/cli/command_line.hpp"

#include <string>

namespace tolvo::cli {

Parser build_parser(std::string_view version)
{
  Parser parser("tolvo", "A native command-line tool that replaces the Makefile of a Python project.");
  parser.add_version("tolvo " + std::string(version));
  parser.add_option({"-C", "--directory"}, "directory", std::string("."), "Change to DIRECTORY before doing anything",
                    {}, "DIRECTORY");
  parser.add_option({"--refresh"}, "refresh", std::monostate{},
                    "Refresh .venv always (run every install step) or when-needed (skip the steps it already "
                    "satisfies); overrides tool.tolvo.refresh",
                    {"always", "when-needed"});
  parser.add_option({"--installer"}, "installer", std::monostate{},
                    "Install into .venv with pip, or with uv (faster on a cold environment); overrides "
                    "tool.tolvo.installer",
                    {"pip", "uv"});
  parser.set_command_dest("command");

  Parser& requirements = parser.add_command("requirements", "Create .venv and install dependencies");
  requirements.add_repeated_positional("extras", "Optional dependency groups to install (e.g., web test dev)");

  Parser& test = parser.add_command("test", "Run tests (default: all tests in tests/)");
  test.add_flag({"--wheel"}, "wheel", "Test using Docker with a built wheel instead of local code");
  test.add_option({"--arch"}, "arch", std::string("x86_64"), "Target architecture for wheel testing (default: x86_64)");
  test.add_option({"--libc"}, "libc", std::string("glibc"), "Target libc for wheel testing (default: glibc)",
                  {"glibc", "musl"});
  test.add_option({"--python"}, "python", std::string("3.11"), "Python version for wheel testing (default: 3.11)");
  test.add_option({"--setup"}, "setup", std::monostate{},
                  "Script to run before installing the wheel and running the tests. Only relevant when --wheel is "
                  "specified");
  test.add_optional_positional("path", std::monostate{},
                               "Path to test file or directory (default: tests/ when it exists, else pytest's own "
                               "testpaths or discovery)");
  test.add_remainder("pytest_args", "ARGS", "Arguments passed on to pytest after the path, as given");

  Parser& build = parser.add_command("build", "Build wheel and source distribution");
  build.add_flag({"--sdist"}, "sdist", "Build source distribution");
  build.add_flag({"--wheel"}, "wheel", "Build a pure python wheel");
  build.add_flag({"--native-wheel"}, "native_wheel", "Build platform-specific wheel instead of pure Python wheel");
  build.add_option({"--arch"}, "arch", std::string("x86_64"),
                   "Target architecture for manylinux build (default: x86_64)");
  build.add_option({"--libc"}, "libc", std::string("glibc"), "Target libc for manylinux build (default: glibc)",
                   {"glibc", "musl"});
  build.add_option({"--python"}, "python", std::string("3.11"), "Python version for manylinux build (default: 3.11)");
  build.add_option({"--setup"}, "setup", std::monostate{}, "Script to run before starting the build.");

  parser.add_command("clean", "Remove build artifacts");

  Parser& lint = parser.add_command("lint", "Run linting");
  lint.add_flag({"--fix"}, "fix", "Automatically fix issues where supported");

  parser.add_command("status", "Output status information");
  parser.add_command("config-diff", "Compare project's pyproject.toml against template");

  Parser& init = parser.add_command("init", "Initialize a new project");
  init.add_option({"--name"}, "name", std::monostate{}, "Project name");
  init.add_option({"--description"}, "description", std::monostate{}, "Project description");
  init.add_option({"--author-name"}, "author_name", std::monostate{}, "Author name");
  init.add_option({"--author-email"}, "author_email", std::monostate{}, "Author email");
  init.add_option({"--license"}, "license", std::monostate{}, "License SPDX identifier (e.g. MIT)");
  return parser;
}

} // namespace tolvo::cli
