#include "tolvo/wheel/scripts.hpp"

#include "tolvo/platform/command_display.hpp"
#include "tolvo/wheel/images.hpp"

namespace tolvo::wheel {

namespace {

std::string setup_line(const std::optional<std::string>& setup)
{
  return setup.has_value() ? *setup : std::string();
}

} // namespace

std::vector<std::string> build_flags(bool native)
{
  std::vector<std::string> flags;
  if (!native) {
    flags.emplace_back(PURE_WHEEL_BUILD_FLAG);
  }
  return flags;
}

std::string compose_build_script(bool native, std::string_view arch, std::string_view interpreter,
                                 const std::optional<std::string>& setup)
{
  const std::string tag(interpreter);
  const std::string arch_text(arch);
  std::string joined_flags;
  for (const std::string& flag : build_flags(native)) {
    if (!joined_flags.empty()) {
      joined_flags += ' ';
    }
    joined_flags += flag;
  }
  const std::string wheels_of_arch = "dist/*_" + arch_text + ".whl";

  std::string script = "\n";
  script += "set -e\n";
  script += "manylinux-interpreters ensure \"" + tag + "\"\n";
  script += "PATH=\"/opt/python/" + tag + "/bin:$PATH\"\n";
  script += "cd /src\n";
  script += setup_line(setup) + "\n";
  script += "rm -rf build/\n";
  script += "python -m pip install --upgrade build\n";
  script += "python -m build --wheel " + joined_flags + "\n";
  script += (native ? "auditwheel repair " + wheels_of_arch : std::string()) + "\n";
  script += "owner=$(stat -c '%u:%g' .)\n";
  script += (native ? "rm -f " + wheels_of_arch : std::string()) + "\n";
  script += (native ? std::string("mv wheelhouse/* dist/") : std::string()) + "\n";
  // After the move, so that the repaired wheels are handed over too; and
  // only what exists, since many back ends leave no egg-info or build/.
  script += std::string(OWNERSHIP_LINE) + "\n";
  script += "rm -rf wheelhouse/\n";
  return script;
}

std::string shell_double_quote_escape(std::string_view path)
{
  std::string escaped;
  escaped.reserve(path.size());
  for (const char c : path) {
    if (c == '"' || c == '$' || c == '`' || c == '\\') {
      escaped.push_back('\\');
    }
    escaped.push_back(c);
  }
  return escaped;
}

std::string compose_test_script(std::string_view wheel_path, const std::optional<std::string>& setup,
                                const TestSelection& selection)
{
  // Single quotes keep every byte of what the user asked pytest for.
  std::string pytest = "python -m pytest -vv " + platform::shell_quote(selection.path);
  for (const std::string& arg : selection.args) {
    pytest += " " + platform::shell_quote(arg);
  }
  std::string script = "\n";
  script += "set -e\n";
  script += "cd /src\n";
  script += setup_line(setup) + "\n";
  // The path is the one found on the host; quoting keeps blanks, and the
  // escapes keep a name with shell metacharacters from being expanded.
  script += "pip install --root-user-action=ignore \"" + shell_double_quote_escape(wheel_path) + "\"[test]\n";
  script += "git config --global user.email '" + std::string(TEST_GIT_EMAIL) + "'\n";
  script += "git config --global user.name \"Test Runner\"\n";
  script += "git config --global init.defaultBranch trunk\n";
  script += "mkdir -p /tmp/test\n";
  script += "cd /tmp/test;\n";
  script += "cp -r /src/" + std::string(CONTAINER_TESTS_DIR) + " .\n";
  script += pytest + "\n";
  return script;
}

std::string compose_platform_test_script(std::string_view wheel_path, std::string_view arch, std::string_view libc,
                                         const std::optional<std::string>& setup, const TestSelection& selection)
{
  std::string script = compose_test_script(wheel_path, setup, selection);
  if (libc == "musl") {
    script = std::string(MUSL_GIT_PREFIX) + script;
  }
  if (test_needs_rust(arch, libc)) {
    script = install_rust(libc) + script;
  }
  return script;
}

} // namespace tolvo::wheel
