#include "tolvo/cli/init_command.hpp"

#include "tolvo/cli/grammar.hpp"
#include "tolvo/config/template.hpp"
#include "tolvo/errors.hpp"
#include "tolvo/platform/python_repr.hpp"
#include "tolvo/platform/terminal.hpp"
#include "tolvo/platform/text.hpp"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <unistd.h>
#include <vector>

namespace tolvo::cli {

namespace {

namespace fs = std::filesystem;

inline constexpr const char* PYTHON_VERSION = ">=3.11";

/// Whether anything, a dangling symbolic link included, is at `path`.
bool exists_at(const fs::path& path)
{
  std::error_code error;
  const fs::file_status status = fs::symlink_status(path, error);
  if (error && error != std::errc::no_such_file_or_directory) {
    throw SystemError("cannot inspect '" + path.string() + "': " + error.message(), error.value());
  }
  return fs::exists(status);
}

/// Ensures the relative directory `path` one component at a time. A
/// symbolic link on the way is refused: init writes only inside the project,
/// never through a link to wherever it points.
void ensure_directory(const fs::path& path)
{
  fs::path step;
  for (const fs::path& component : path) {
    if (component.empty() || component == ".") {
      continue;
    }
    step /= component;
    std::error_code error;
    const fs::file_status status = fs::symlink_status(step, error);
    if (error && error != std::errc::no_such_file_or_directory) {
      throw SystemError("cannot inspect '" + step.string() + "': " + error.message(), error.value());
    }
    if (fs::is_symlink(status)) {
      throw SystemError("cannot create directory '" + path.string() + "': '" + step.string() + "' is a symbolic link",
                        ELOOP);
    }
    if (fs::is_directory(status)) {
      continue;
    }
    if (fs::exists(status)) {
      throw SystemError("cannot create directory '" + path.string() + "': '" + step.string() +
                          "' exists and is not a directory",
                        ENOTDIR);
    }
    if (!fs::create_directory(step, error) && error) {
      throw SystemError("cannot create directory '" + path.string() + "': " + error.message(), error.value());
    }
  }
}

/// Writes `text` to a new file at `path`. Opened exclusively, so a file that
/// appeared since the check is left alone rather than overwritten.
void write_new_file(const fs::path& path, const std::string& text)
{
  std::FILE* file = std::fopen(path.c_str(), "wx");
  if (file == nullptr) {
    const int error_number = errno;
    if (error_number == EEXIST) {
      return;
    }
    throw SystemError("cannot create '" + path.string() + "': " + std::strerror(error_number), error_number);
  }
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  const int write_errno = errno;
  if (std::fclose(file) != 0 || !written) {
    const int error_number = written ? errno : write_errno;
    throw SystemError("cannot write '" + path.string() + "': " + std::strerror(error_number), error_number);
  }
}

/// Whether `text` holds a C0 or C1 control character or DEL.
bool has_control_character(std::string_view text)
{
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    // U+0080 to U+009F are C2 80 to C2 9F in UTF-8.
    const bool c1 = byte == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) <= 0x9F;
    if (byte < 0x20 || byte == 0x7F || c1) {
      return true;
    }
  }
  return false;
}

/// pyproject.toml is read as UTF-8, so every value written into it must be.
void check_utf8(const std::string& what, const std::string& value)
{
  if (!platform::is_utf8(value)) {
    throw InvalidValue("the " + what + " " + platform::python_string_literal(value) +
                       " is not valid UTF-8, which pyproject.toml must be");
  }
}

void write_from_template(const fs::path& path, const char* template_name, const config::TemplateValues& values)
{
  if (exists_at(path)) {
    return;
  }
  write_new_file(path, config::fill_template(template_name, config::read_template(template_name), values));
}

} // namespace

std::optional<std::string> get_arg(const std::optional<std::string>& value, const std::string& prompt)
{
  if (value && !value->empty()) {
    return value;
  }
  if (!platform::stdin_is_terminal()) {
    return std::nullopt;
  }
  std::cout << prompt << std::flush;
  std::string answer;
  if (!platform::read_line(answer)) {
    throw OperationFailed("end of input at the prompt " + platform::python_string_literal(prompt));
  }
  return answer;
}

void check_project_name(const std::string& name)
{
  const std::string shown = platform::python_string_literal(name);
  if (name.empty()) {
    throw InvalidValue("the project name is empty; it names the package directory");
  }
  // The name is also a value of the workflow file and of pyproject.toml,
  // each on one line between quotes.
  check_utf8("project name", name);
  if (has_control_character(name)) {
    throw InvalidValue("the project name " + shown + " contains a control character; it must be one line of text");
  }
  const std::size_t quote = name.find_first_of("\"'`");
  if (quote != std::string::npos) {
    throw InvalidValue("the project name " + shown + " contains the quote character " + std::string(1, name[quote]) +
                       "; it must hold none of \" ' `");
  }
  const fs::path path(name);
  if (path.is_absolute()) {
    throw InvalidValue("the project name " + shown +
                       " is an absolute path; it must name a directory inside the project");
  }
  for (const fs::path& component : path) {
    if (component == "..") {
      throw InvalidValue("the project name " + shown + " contains '..'; it must name a directory inside the project");
    }
  }
}

FirstTest first_test(const std::string& name)
{
  // The package directory's components, as ensure_directory makes them.
  std::vector<std::string> parts;
  for (const fs::path& component : fs::path(name)) {
    if (!component.empty() && component != ".") {
      parts.push_back(component.string());
    }
  }
  const std::string module = platform::join(parts, ".");
  std::string file_stem = "test_";
  for (const char c : module) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
    file_stem += plain ? c : '_';
  }
  // The name holds no quote or control character (check_project_name), so
  // between double quotes only a backslash needs escaping.
  std::string literal;
  for (const char c : module) {
    literal += c == '\\' ? std::string("\\\\") : std::string(1, c);
  }
  const char* template_name = "test_package.py.tpl";
  return {fs::path("tests") / (file_stem + ".py"),
          config::fill_template(template_name, config::read_template(template_name), {{"module", literal}})};
}

int cmd_init(const ParsedArguments& args, const Parser& parser)
{
  // Every value is asked for before any is tested, so one session on a
  // terminal prompts for all that the options leave open.
  const std::optional<std::string> name = get_arg(args.opt("name"), "Project name: ");
  const std::optional<std::string> description = get_arg(args.opt("description"), "Description: ");
  const std::optional<std::string> author_name = get_arg(args.opt("author_name"), "Author name: ");
  const std::optional<std::string> author_email = get_arg(args.opt("author_email"), "Author email: ");
  const std::optional<std::string> license_spdx = get_arg(args.opt("license"), "License spdx identifier: ");

  if (!name || !description || !author_name || !author_email || !license_spdx) {
    const std::string usage = parser.format_usage();
    std::cout << usage;
    if (usage.empty() || usage.back() != '\n') {
      std::cout << '\n';
    }
    std::cout.flush();
    return 1;
  }
  // Checked before anything is written: the name becomes a path, and every
  // value text of pyproject.toml.
  check_project_name(*name);
  check_utf8("description", *description);
  check_utf8("author name", *author_name);
  check_utf8("author email", *author_email);
  check_utf8("license identifier", *license_spdx);

  // Every placeholder of the pyproject template stands in a TOML basic
  // string, so a quote, backslash or line break stays part of its value.
  const auto toml = [](const std::string& value) { return config::escape_toml_basic_string(value); };
  write_from_template("pyproject.toml", "pyproject.toml.tpl",
                      {{"name", toml(*name)},
                       {"description", toml(*description)},
                       {"author_name", toml(*author_name)},
                       {"author_email", toml(*author_email)},
                       {"license_spdx", toml(*license_spdx)},
                       {"python_version", PYTHON_VERSION}});

  const fs::path package(*name);
  ensure_directory(package);
  const fs::path init_file = package / "__init__.py";
  if (!exists_at(init_file)) {
    write_new_file(init_file, "");
  }

  // A project whose tests/ exists in any form has tests of its own.
  if (!exists_at("tests")) {
    const FirstTest test = first_test(*name);
    ensure_directory(test.path.parent_path());
    write_new_file(test.path, test.text);
  }

  const fs::path workflows = fs::path(".github") / "workflows";
  ensure_directory(workflows);
  write_from_template(workflows / "build.yml", "build.yml.tpl", {{"project_name", *name}});
  return 0;
}

} // namespace tolvo::cli
