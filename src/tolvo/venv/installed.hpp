#pragma once

// The distributions installed on an interpreter's site path, read natively
// the way pip finds them: a `*.dist-info` folder per distribution, its
// METADATA header (Name, Version, Requires-Dist, Provides-Extra) and its
// direct_url.json. Nothing here starts a process.

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tolvo::venv {

/// The fields of a METADATA header that installing judges by.
struct DistributionMetadata
{
  std::string name;
  std::string version;
  std::vector<std::string> requires_dist;
  std::vector<std::string> provides_extra;

  bool operator==(const DistributionMetadata&) const = default;
};

/// The header of a METADATA file, up to the blank line before the body;
/// folded lines are joined. None when Name or Version is missing.
std::optional<DistributionMetadata> parse_metadata(std::string_view text);

/// Where a distribution was installed from (PEP 610), as far as tolvo asks.
struct DirectUrl
{
  std::string url;
  bool editable = false;

  bool operator==(const DirectUrl&) const = default;
};

/// A direct_url.json document; none unless it is an object with a string
/// "url" (and, when present, an object "dir_info" whose "editable" is a boolean).
std::optional<DirectUrl> parse_direct_url(std::string_view json);

/// The local path a file: URL names, percent-decoded; none for another
/// scheme or a host other than "" and "localhost".
std::optional<std::string> file_url_path(std::string_view url);

/// The site-packages directories inside the environment at `venv_path`
/// (lib/python*/site-packages), where its own installs go.
std::vector<std::string> environment_site_packages(const std::string& venv_path);

struct InstalledDistribution
{
  DistributionMetadata metadata;
  /// The dist-info folder.
  std::string folder;
};

/// The distribution's direct_url.json: an empty optional when the folder has
/// none, none at all when it cannot be read as one.
std::optional<std::optional<DirectUrl>> read_direct_url(const InstalledDistribution& distribution);

/// The distributions on a site path. A name is found as pip finds it: the
/// first directory of the path that holds a distribution of that
/// PEP 503-normalised name. Directories are listed when first needed and
/// each distribution is read once. Not safe to share between threads.
class SitePackages
{
public:
  explicit SitePackages(std::vector<std::string> directories);

  enum class State
  {
    found,
    missing,
    /// Present but not judgeable: no readable METADATA, a Name that is not
    /// the one asked for, a folder name whose version is not METADATA's,
    /// an egg instead of a dist-info, or two folders of the name in one
    /// directory.
    unreadable,
  };

  struct Lookup
  {
    State state = State::missing;
    const InstalledDistribution* distribution = nullptr;
  };

  Lookup find(std::string_view name);

private:
  struct Entry
  {
    std::string path;
    bool dist_info = false;
    bool ambiguous = false;
  };

  void index();

  std::vector<std::string> m_directories;
  bool m_indexed = false;
  std::map<std::string, Entry, std::less<>> m_entries;
  std::map<std::string, std::optional<InstalledDistribution>, std::less<>> m_read;
};

} // namespace tolvo::venv
