#include "tolvo/config/dependency_groups.hpp"

#include "tolvo/config/dependency_groups_detail.hpp"
#include "tolvo/config/packaging/names.hpp"
#include "tolvo/config/toml_access.hpp"
#include "tolvo/errors.hpp"

#include <algorithm>

namespace tolvo::config {

namespace {

DependencyGroupEntry read_entry(const toml::node& item)
{
  if (const auto* text = item.as_string()) {
    return {DependencyGroupEntry::Kind::requirement, text->get()};
  }
  if (const auto* table = item.as_table(); table != nullptr && table->size() == 1) {
    if (const toml::node* include = table->get("include-group"); include != nullptr && include->is_string()) {
      return {DependencyGroupEntry::Kind::include, include->as_string()->get()};
    }
  }
  return {DependencyGroupEntry::Kind::invalid, text_form(item)};
}

void expand(const DependencyGroups& groups, std::string_view name, std::vector<std::string>& chain,
            std::vector<std::string>& out)
{
  const std::string key = canonicalize_name(name);
  if (std::find(chain.begin(), chain.end(), key) != chain.end()) {
    throw InvalidValue("dependency group '" + std::string(name) + "' includes itself");
  }
  const DependencyGroup* group = find_dependency_group(groups, name);
  if (group == nullptr) {
    throw InvalidValue("no dependency group named '" + std::string(name) + "'");
  }
  chain.push_back(key);
  for (const DependencyGroupEntry& entry : group->entries) {
    switch (entry.kind) {
    case DependencyGroupEntry::Kind::requirement:
      out.push_back(entry.text);
      break;
    case DependencyGroupEntry::Kind::include:
      expand(groups, entry.text, chain, out);
      break;
    case DependencyGroupEntry::Kind::invalid:
      throw InvalidValue("dependency group '" + group->name + "' holds an invalid item: " + entry.text);
    }
  }
  chain.pop_back();
}

} // namespace

DependencyGroups read_dependency_groups(const toml::table& table)
{
  DependencyGroups groups;
  for (const auto& [key, value] : in_document_order(table)) {
    DependencyGroup group{std::string(key->str()), {}};
    for (const toml::node& item : expect_array(*value, "dependency-groups." + group.name)) {
      group.entries.push_back(read_entry(item));
    }
    groups.push_back(std::move(group));
  }
  return groups;
}

const DependencyGroup* find_dependency_group(const DependencyGroups& groups, std::string_view name)
{
  const std::string key = canonicalize_name(name);
  const auto found = std::find_if(groups.begin(), groups.end(),
                                  [&](const DependencyGroup& group) { return canonicalize_name(group.name) == key; });
  return found == groups.end() ? nullptr : &*found;
}

std::vector<std::string> resolve_dependency_group(const DependencyGroups& groups, std::string_view name)
{
  std::vector<std::string> seen;
  for (const DependencyGroup& group : groups) {
    const std::string key = canonicalize_name(group.name);
    if (std::find(seen.begin(), seen.end(), key) != seen.end()) {
      throw InvalidValue("two dependency groups are named '" + key + "' once normalised");
    }
    seen.push_back(key);
  }
  std::vector<std::string> chain;
  std::vector<std::string> out;
  expand(groups, name, chain, out);
  return out;
}

} // namespace tolvo::config
