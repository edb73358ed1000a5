#pragma once

// Runs a parser the way the program entry does: what it printed, the
// status it asked for, and the values when it parsed.

#include "tolvo/cli/grammar.hpp"
#include "tolvo/errors.hpp"

#include <sstream>
#include <string>
#include <vector>

namespace tolvo::testing {

struct ParseOutcome
{
  int status = -1; // -1: parsed without ending the process
  cli::ParsedArguments values;
  std::string out;
  std::string err;
};

inline ParseOutcome parse_outcome(cli::Parser& parser, const std::vector<std::string>& arguments)
{
  std::ostringstream out;
  ParseOutcome outcome;
  parser.set_output(out);
  try {
    outcome.values = parser.parse(arguments);
  } catch (const UsageError& error) {
    outcome.status = 2;
    outcome.err = error.what();
  } catch (const ExitRequest& request) {
    outcome.status = request.status();
  }
  outcome.out = out.str();
  return outcome;
}

} // namespace tolvo::testing
