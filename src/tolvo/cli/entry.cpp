#include "tolvo/cli/entry.hpp"

#include "tolvo/errors.hpp"

#include <cstdio>
#include <iostream>

namespace tolvo::cli {

namespace {
std::vector<std::string> g_process_arguments;
}

int main(const std::optional<std::vector<std::string>>& argv)
{
  const std::vector<std::string>& arguments = argv ? *argv : g_process_arguments;
  (void)arguments;
  throw NotImplementedError("the command line is not available yet");
}

int program_entry(int argc, char** argv)
{
  for (int i = 1; i < argc; ++i) {
    g_process_arguments.emplace_back(argv[i]);
  }
  try {
    return main();
  } catch (const ExitRequest& request) {
    std::fflush(stdout);
    return request.status();
  } catch (const std::exception& error) {
    std::fflush(stdout);
    std::cerr << "tolvo: error: " << error.what() << std::endl;
    return 1;
  }
}

} // namespace tolvo::cli
