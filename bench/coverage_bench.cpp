// Scaling benchmark of the requirement coverage: for each list length given
// on the command line, times requirements_not_satisfied_by on generated
// expected and actual lists of that length, in process.
// Prints one line per length: "<n> <median microseconds> <missing count>".

#include "tolvo/config/coverage.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// Distinct names in a mix of the notations the coverage meets: bare names,
// lower bounds, pins, extras and markers.
std::vector<std::string> expected_list(int n)
{
  std::vector<std::string> list;
  list.reserve(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) {
    const std::string name = "Package_" + std::to_string(i);
    switch (i % 4) {
    case 0:
      list.push_back(name);
      break;
    case 1:
      list.push_back(name + ">=1." + std::to_string(i % 50));
      break;
    case 2:
      list.push_back(name + "[extra]>=2.0,<3");
      break;
    default:
      list.push_back(name + "==4." + std::to_string(i % 7));
      break;
    }
  }
  return list;
}

// The same distributions in reverse order under their canonical names, each
// covering its expected entry except every tenth, some behind a marker.
std::vector<std::string> actual_list(int n)
{
  std::vector<std::string> list;
  list.reserve(static_cast<std::size_t>(n));
  for (int i = n - 1; i >= 0; --i) {
    const std::string name = "package-" + std::to_string(i);
    const std::string floor = i % 10 == 9 ? "0.1" : "9.0";
    std::string text = name + "[extra,more]>=" + floor;
    if (i % 3 == 0) {
      text += "; python_version >= '3.8'";
    }
    list.push_back(text);
  }
  return list;
}

} // namespace

int main(int argc, char** argv)
{
  for (int arg = 1; arg < argc; ++arg) {
    const int n = std::atoi(argv[arg]);
    const std::vector<std::string> expected = expected_list(n);
    const std::vector<std::string> actual = actual_list(n);
    std::vector<double> micros;
    std::size_t missing = 0;
    // At least eleven rounds and half a second in total, so that a burst of
    // load from elsewhere moves the median little.
    double total = 0;
    while (micros.size() < 11 || (total < 500000 && micros.size() < 1000)) {
      const auto start = std::chrono::steady_clock::now();
      missing = tolvo::config::requirements_not_satisfied_by(expected, actual, ">=3.10").size();
      const auto stop = std::chrono::steady_clock::now();
      micros.push_back(std::chrono::duration<double, std::micro>(stop - start).count());
      total += micros.back();
    }
    std::sort(micros.begin(), micros.end());
    std::printf("%d %.1f %zu\n", n, micros[micros.size() / 2], missing);
  }
  return 0;
}
