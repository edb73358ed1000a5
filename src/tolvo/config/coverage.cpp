#include "tolvo/config/coverage.hpp"

#include "tolvo/config/coverage_detail.hpp"
#include "tolvo/config/packaging/names.hpp"
#include "tolvo/config/packaging/requirement.hpp"
#include "tolvo/errors.hpp"

#include <algorithm>
#include <cctype>
#include <unordered_map>

namespace tolvo::config {

namespace {

std::optional<std::string> first_with_op(const SpecifierSet& spec, std::string_view op)
{
  for (const auto& s : spec) {
    if (s.op() == op) {
      return s.version();
    }
  }
  return std::nullopt;
}

struct Groups
{
  std::vector<std::string> order;
  std::unordered_map<std::string, std::vector<Requirement>> members;
};

Groups group_by_name(const std::vector<std::string>& texts)
{
  Groups g;
  for (const auto& t : texts) {
    Requirement r(t);
    std::string key = canonicalize_name(r.name);
    auto [it, inserted] = g.members.try_emplace(key);
    if (inserted) {
      g.order.push_back(key);
    }
    it->second.push_back(std::move(r));
  }
  return g;
}

bool is_subset(const std::set<std::string>& a, const std::set<std::string>& b)
{
  return std::includes(b.begin(), b.end(), a.begin(), a.end());
}

} // namespace

std::optional<std::string> minimum_version(const SpecifierSet& spec)
{
  for (const auto& s : spec) {
    if (s.op() == ">=" || s.op() == "==") {
      return s.version();
    }
  }
  return std::nullopt;
}

bool specifier_covers(const SpecifierSet& exp_spec, const SpecifierSet& act_spec)
{
  auto exp_exact = first_with_op(exp_spec, "==");
  auto act_exact = first_with_op(act_spec, "==");
  if (exp_exact) {
    if (act_exact) {
      // Exact pins match as text: 1.0 and 1.0.0 differ.
      return *exp_exact == *act_exact;
    }
    auto act_min = minimum_version(act_spec);
    return act_min && Version(*act_min) >= Version(*exp_exact);
  }
  auto exp_min = minimum_version(exp_spec);
  if (!exp_min) {
    return true;
  }
  auto act_min = minimum_version(act_spec);
  return act_min && Version(*act_min) >= Version(*exp_min);
}

std::vector<MarkerEnvironment> generate_marker_environments(const std::string& requires_python)
{
  SpecifierSet spec(requires_python);
  std::string test_version = first_with_op(spec, ">=").value_or(requires_python);
  std::vector<MarkerEnvironment> envs;
  for (std::string platform : {"linux", "darwin", "win32"}) {
    std::string system = platform;
    std::transform(system.begin(), system.end(), system.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    system[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(system[0])));
    envs.push_back({{"python_version", test_version},
                    {"python_full_version", test_version + ".0"},
                    {"sys_platform", platform},
                    {"platform_system", system}});
  }
  return envs;
}

bool marker_covers(const std::optional<Marker>& exp_marker, const std::optional<Marker>& act_marker,
                   const std::string& requires_python)
{
  if (!act_marker || exp_marker == act_marker) {
    return true;
  }
  for (const auto& env : generate_marker_environments(requires_python)) {
    try {
      bool expected = !exp_marker || exp_marker->evaluate(env);
      bool actual = act_marker->evaluate(env);
      if (expected && !actual) {
        return false;
      }
    } catch (const InvalidValue&) {
      // A marker that cannot be judged here says nothing about coverage.
      continue;
    }
  }
  return true;
}

std::vector<std::string> requirements_not_satisfied_by(const std::vector<std::string>& expected,
                                                       const std::vector<std::string>& actual,
                                                       const std::string& requires_python)
{
  Groups exp = group_by_name(expected);
  Groups act = group_by_name(actual);
  std::vector<std::string> missing;
  for (const auto& key : exp.order) {
    const auto& wanted = exp.members.at(key);
    auto found = act.members.find(key);
    for (const auto& e : wanted) {
      bool covered = false;
      if (found != act.members.end()) {
        covered = std::any_of(found->second.begin(), found->second.end(), [&](const Requirement& a) {
          return marker_covers(e.marker, a.marker, requires_python) && is_subset(e.extras, a.extras) &&
                 specifier_covers(e.specifier, a.specifier);
        });
      }
      if (!covered) {
        missing.push_back(e.str());
      }
    }
  }
  return missing;
}

} // namespace tolvo::config
