#include "tolvo/errors.hpp"

#include "tolvo/platform/python_repr.hpp"

namespace tolvo {

namespace {

std::string describe(int returncode, const std::vector<std::string>& args)
{
  std::string text = "Command '" + platform::python_list_display(args) + "'";
  if (returncode < 0) {
    return text + " died with signal " + std::to_string(-returncode) + ".";
  }
  return text + " returned non-zero exit status " + std::to_string(returncode) + ".";
}

} // namespace

CalledProcessError::CalledProcessError(int returncode,
                                       std::vector<std::string> args,
                                       std::string stdout_text,
                                       std::string stderr_text)
  : Error(describe(returncode, args)),
    m_returncode(returncode),
    m_args(std::move(args)),
    m_stdout(std::move(stdout_text)),
    m_stderr(std::move(stderr_text))
{
}

} // namespace tolvo
