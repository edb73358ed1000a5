// Answers packaging questions line by line, for comparison with the Python
// reference library. Each input line is "<kind>\t<payload>":
//   V  version           -> normalised text
//   C  a\tb              -> -1, 0 or 1
//   S  specifiers\tver   -> normalised set text, then contains: "text\ttrue"
//   P  specifiers\tver\tp -> contains with pre-releases admitted (p "1") or not: "true"/"false"
//   R  requirement       -> text form
//   E  name\tvalue       -> sets a marker variable for later M lines
//   M  marker            -> normalised text, then "\ttrue"/"\tfalse"/"\terror"
// Any failure prints "error".

#include "tolvo/config/packaging/marker.hpp"
#include "tolvo/config/packaging/requirement.hpp"
#include "tolvo/config/packaging/specifier.hpp"
#include "tolvo/config/packaging/version.hpp"
#include "tolvo/errors.hpp"

#include <iostream>
#include <string>

namespace {

std::string answer(const std::string& kind, const std::string& payload, tolvo::config::MarkerEnvironment& env)
{
  auto tab = payload.find('\t');
  std::string first = payload.substr(0, tab);
  std::string second = tab == std::string::npos ? "" : payload.substr(tab + 1);
  if (kind == "V") {
    return tolvo::config::Version(payload).str();
  }
  if (kind == "C") {
    auto c = tolvo::config::Version(first) <=> tolvo::config::Version(second);
    return c < 0 ? "-1" : (c > 0 ? "1" : "0");
  }
  if (kind == "S") {
    tolvo::config::SpecifierSet s(first);
    return s.str() + "\t" + (s.contains(tolvo::config::Version(second)) ? "true" : "false");
  }
  if (kind == "P") {
    const auto flag = second.rfind('\t');
    tolvo::config::SpecifierSet s(first);
    const tolvo::config::Version v(second.substr(0, flag));
    return s.contains(v, second.substr(flag + 1) == "1") ? "true" : "false";
  }
  if (kind == "R") {
    return tolvo::config::Requirement(payload).str();
  }
  if (kind == "E") {
    env[first] = second;
    return "ok";
  }
  if (kind == "M") {
    tolvo::config::Marker m(payload);
    std::string result;
    try {
      result = m.evaluate(env) ? "true" : "false";
    } catch (const tolvo::Error&) {
      result = "error";
    }
    return m.str() + "\t" + result;
  }
  return "error";
}

} // namespace

int main()
{
  tolvo::config::MarkerEnvironment env;
  std::string line;
  while (std::getline(std::cin, line)) {
    auto tab = line.find('\t');
    std::string kind = line.substr(0, tab);
    std::string payload = tab == std::string::npos ? "" : line.substr(tab + 1);
    try {
      std::cout << answer(kind, payload, env) << '\n';
    } catch (const tolvo::Error&) {
      std::cout << "error\n";
    }
  }
  return 0;
}
