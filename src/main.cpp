#include "tolvo/cli/entry.hpp"

int main(int argc, char** argv)
{
  return tolvo::cli::program_entry(argc, argv, TOLVO_VERSION);
}
