#include "tolvo/venv/installed.hpp"

#include "tolvo/config/packaging/names.hpp"
#include "tolvo/config/packaging/version.hpp"
#include "tolvo/platform/handles.hpp"
#include "tolvo/platform/read_file.hpp"
#include "tolvo/platform/text.hpp"

// The one user of a JSON reader in tolvo: direct_url.json is JSON, and a
// well-kept parser beats a hand-written one for input that other tools wrote.
#include <algorithm>
#include <cctype>
#include <dirent.h>
#include <nlohmann/json.hpp>

namespace tolvo::venv {

namespace {

constexpr std::string_view DIST_INFO = ".dist-info";
// Older layouts pip still reads; a distribution found only in one of them
// is not judged.
constexpr std::string_view EGG_SUFFIXES[] = {".egg-info", ".egg", ".egg-link"};

bool ends_with(std::string_view text, std::string_view suffix)
{
  return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

bool header_is(std::string_view line, std::string_view name)
{
  if (line.size() <= name.size() || line[name.size()] != ':') {
    return false;
  }
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(line[i])) != std::tolower(static_cast<unsigned char>(name[i]))) {
      return false;
    }
  }
  return true;
}

// The project name of a folder such as "zope.interface-5.4.0.dist-info".
std::string folder_name_key(std::string_view folder, std::string_view suffix)
{
  std::string_view stem = folder.substr(0, folder.size() - suffix.size());
  return config::canonicalize_name(stem.substr(0, stem.find('-')));
}

// Whether the version in a folder name such as "foo-1.0.dist-info" is the
// version of its METADATA. pip reads the folder's version where there is
// one, older releases read METADATA: a disagreement is judged by
// neither. A folder name without a version leaves METADATA to speak.
bool folder_version_agrees(std::string_view folder, const std::string& version)
{
  const std::string_view stem = folder.substr(0, folder.size() - DIST_INFO.size());
  const std::size_t dash = stem.find('-');
  if (dash == std::string_view::npos || dash + 1 == stem.size()) {
    return true;
  }
  const std::optional<config::Version> named = config::Version::try_parse(stem.substr(dash + 1));
  const std::optional<config::Version> written = config::Version::try_parse(version);
  return named && written && *named == *written;
}

int hex_value(char c)
{
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  if (c >= 'A' && c <= 'F') {
    return c - 'A' + 10;
  }
  return -1;
}

} // namespace

std::optional<DistributionMetadata> parse_metadata(std::string_view text)
{
  // Header lines, continuation lines (starting with a blank) joined on.
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    std::string_view line = text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    start = end == std::string_view::npos ? text.size() : end + 1;
    if (!line.empty() && line.back() == '\r') {
      line.remove_suffix(1);
    }
    if (line.empty()) {
      break;
    }
    if ((line.front() == ' ' || line.front() == '\t') && !lines.empty()) {
      lines.back() += " " + std::string(platform::strip(line));
    } else {
      lines.emplace_back(line);
    }
  }
  DistributionMetadata metadata;
  for (const std::string& line : lines) {
    const std::string value(platform::strip(std::string_view(line).substr(line.find(':') + 1)));
    if (header_is(line, "Name")) {
      metadata.name = value;
    } else if (header_is(line, "Version")) {
      metadata.version = value;
    } else if (header_is(line, "Requires-Dist")) {
      metadata.requires_dist.push_back(value);
    } else if (header_is(line, "Provides-Extra")) {
      metadata.provides_extra.push_back(value);
    }
  }
  if (metadata.name.empty() || metadata.version.empty()) {
    return std::nullopt;
  }
  return metadata;
}

std::optional<DirectUrl> parse_direct_url(std::string_view json)
{
  const nlohmann::json document = nlohmann::json::parse(json, nullptr, /*allow_exceptions=*/false);
  if (!document.is_object()) {
    return std::nullopt;
  }
  const auto url = document.find("url");
  if (url == document.end() || !url->is_string()) {
    return std::nullopt;
  }
  DirectUrl direct{url->get<std::string>(), false};
  if (const auto dir_info = document.find("dir_info"); dir_info != document.end()) {
    if (!dir_info->is_object()) {
      return std::nullopt;
    }
    if (const auto editable = dir_info->find("editable"); editable != dir_info->end()) {
      if (!editable->is_boolean()) {
        return std::nullopt;
      }
      direct.editable = editable->get<bool>();
    }
  }
  return direct;
}

std::optional<std::string> file_url_path(std::string_view url)
{
  constexpr std::string_view SCHEME = "file://";
  if (url.substr(0, SCHEME.size()) != SCHEME) {
    return std::nullopt;
  }
  std::string_view rest = url.substr(SCHEME.size());
  const std::size_t slash = rest.find('/');
  if (slash == std::string_view::npos) {
    return std::nullopt;
  }
  const std::string_view host = rest.substr(0, slash);
  if (!host.empty() && host != "localhost") {
    return std::nullopt;
  }
  std::string path;
  for (std::size_t i = slash; i < rest.size(); ++i) {
    if (rest[i] == '%' && i + 2 < rest.size() && hex_value(rest[i + 1]) >= 0 && hex_value(rest[i + 2]) >= 0) {
      path += static_cast<char>(hex_value(rest[i + 1]) * 16 + hex_value(rest[i + 2]));
      i += 2;
    } else if (rest[i] == '%' || rest[i] == '?' || rest[i] == '#') {
      return std::nullopt;
    } else {
      path += rest[i];
    }
  }
  return path;
}

std::vector<std::string> environment_site_packages(const std::string& venv_path)
{
  std::vector<std::string> found;
  const std::string lib = venv_path + "/lib";
  const platform::DirectoryStream stream(::opendir(lib.c_str()));
  if (!stream) {
    return found;
  }
  while (const dirent* item = ::readdir(stream.get())) {
    const std::string_view name = item->d_name;
    if (name.substr(0, 6) == "python") {
      const std::string site = lib + "/" + std::string(name) + "/site-packages";
      if (const platform::DirectoryStream probe(::opendir(site.c_str())); probe) {
        found.push_back(site);
      }
    }
  }
  std::sort(found.begin(), found.end());
  return found;
}

SitePackages::SitePackages(std::vector<std::string> directories)
  : m_directories(std::move(directories))
{}

void SitePackages::index()
{
  m_indexed = true;
  for (const std::string& directory : m_directories) {
    const platform::DirectoryStream stream(::opendir(directory.c_str()));
    if (!stream) {
      continue;
    }
    // Names first met in this directory; a second folder of one of them
    // here makes it ambiguous, one in a later directory is shadowed.
    std::map<std::string, Entry, std::less<>> here;
    while (const dirent* item = ::readdir(stream.get())) {
      const std::string_view name = item->d_name;
      std::string_view suffix;
      if (ends_with(name, DIST_INFO)) {
        suffix = DIST_INFO;
      } else {
        for (std::string_view egg : EGG_SUFFIXES) {
          if (ends_with(name, egg)) {
            suffix = egg;
          }
        }
      }
      if (suffix.empty()) {
        continue;
      }
      const std::string key = folder_name_key(name, suffix);
      const auto [it, inserted] =
        here.try_emplace(key, Entry{directory + "/" + std::string(name), suffix == DIST_INFO});
      if (!inserted) {
        it->second.ambiguous = true;
      }
    }
    for (auto& [key, entry] : here) {
      m_entries.try_emplace(key, std::move(entry));
    }
  }
}

SitePackages::Lookup SitePackages::find(std::string_view name)
{
  if (!m_indexed) {
    index();
  }
  const std::string key = config::canonicalize_name(name);
  const auto entry = m_entries.find(key);
  if (entry == m_entries.end()) {
    return {State::missing, nullptr};
  }
  auto read = m_read.find(key);
  if (read == m_read.end()) {
    std::optional<InstalledDistribution> distribution;
    if (entry->second.dist_info && !entry->second.ambiguous) {
      // Only the header is needed; the long description after it is not read.
      const auto text = platform::read_file_until(entry->second.path + "/METADATA", "\n\n");
      std::optional<DistributionMetadata> metadata = text ? parse_metadata(*text) : std::nullopt;
      const std::string_view folder = std::string_view(entry->second.path).substr(entry->second.path.rfind('/') + 1);
      if (metadata && config::canonicalize_name(metadata->name) == key &&
          folder_version_agrees(folder, metadata->version)) {
        distribution = InstalledDistribution{std::move(*metadata), entry->second.path};
      }
    }
    read = m_read.emplace(key, std::move(distribution)).first;
  }
  if (!read->second) {
    return {State::unreadable, nullptr};
  }
  return {State::found, &*read->second};
}

std::optional<std::optional<DirectUrl>> read_direct_url(const InstalledDistribution& distribution)
{
  const auto json = platform::read_file_until(distribution.folder + "/direct_url.json");
  if (!json) {
    return std::optional<DirectUrl>();
  }
  std::optional<DirectUrl> direct = parse_direct_url(*json);
  if (!direct) {
    return std::nullopt;
  }
  return direct;
}

} // namespace tolvo::venv
