#include "tolvo/venv/work_tree_head.hpp"

#include "support/scoped_temp_dir.hpp"

#include <filesystem>
#include <gtest/gtest.h>
#include <map>

namespace tolvo::venv {
namespace {

using tolvo::testing::ScopedTempDir;

constexpr const char* A = "9fceb02d0ae598e95dc970b74767f19372d61af8";
constexpr const char* B = "1e2f3a4b5c6d7e8f9a0b1c2d3e4f5a6b7c8d9e0f";
constexpr const char* TAG = "0000000000000000000000000000000000000001";

struct HeadCase
{
  std::string label;
  /// Files below the scratch directory; the project is "repo/pkg".
  std::map<std::string, std::string> files;
  std::optional<std::string> expected;
};

void PrintTo(const HeadCase& tested, std::ostream* out)
{
  *out << tested.label;
}

class WorkTreeHead : public ::testing::TestWithParam<HeadCase>
{};

TEST_P(WorkTreeHead, NamesTheCommitGitWould)
{
  ScopedTempDir temp;
  std::filesystem::create_directories(temp.path() / "repo" / "pkg");
  for (const auto& [path, text] : GetParam().files) {
    temp.write(path, text);
  }
  EXPECT_EQ(work_tree_head((temp.path() / "repo" / "pkg").string()), GetParam().expected);
}

const std::string PACKED = std::string("# pack-refs with: peeled fully-peeled sorted \n") + B + " refs/heads/main\n" +
                           B + " refs/tags/v1\n^" + TAG + "\n";

INSTANTIATE_TEST_SUITE_P(
  Table, WorkTreeHead,
  ::testing::Values(
    HeadCase{"loose_branch", {{"repo/.git/HEAD", "ref: refs/heads/main\n"}, {"repo/.git/refs/heads/main", A}}, A},
    HeadCase{"packed_branch", {{"repo/.git/HEAD", "ref: refs/heads/main\n"}, {"repo/.git/packed-refs", PACKED}}, B},
    HeadCase{"loose_ref_wins_over_packed",
             {{"repo/.git/HEAD", "ref: refs/heads/main\n"},
              {"repo/.git/refs/heads/main", std::string(A) + "\n"},
              {"repo/.git/packed-refs", PACKED}},
             A},
    HeadCase{"detached", {{"repo/.git/HEAD", std::string(B) + "\n"}, {"repo/.git/refs/heads/main", A}}, B},
    HeadCase{"symbolic_chain",
             {{"repo/.git/HEAD", "ref: refs/heads/alias\n"},
              {"repo/.git/refs/heads/alias", "ref: refs/heads/main\n"},
              {"repo/.git/packed-refs", PACKED}},
             B},
    HeadCase{"linked_worktree_shares_the_common_refs",
             {{"repo/.git", "gitdir: ../main/.git/worktrees/repo\n"},
              {"main/.git/worktrees/repo/HEAD", "ref: refs/heads/feature\n"},
              {"main/.git/worktrees/repo/commondir", "../..\n"},
              {"main/.git/HEAD", "ref: refs/heads/main\n"},
              {"main/.git/refs/heads/main", A},
              {"main/.git/refs/heads/feature", B}},
             B},
    HeadCase{"unborn_branch", {{"repo/.git/HEAD", "ref: refs/heads/main\n"}}, "unborn:refs/heads/main"},
    HeadCase{"no_work_tree", {}, "-"},
    HeadCase{"reftable",
             {{"repo/.git/HEAD", "ref: refs/heads/.invalid\n"}, {"repo/.git/reftable/tables.list", ""}},
             std::nullopt},
    HeadCase{"malformed_head", {{"repo/.git/HEAD", "garbage\n"}}, std::nullopt},
    HeadCase{"ref_leaving_the_repository", {{"repo/.git/HEAD", "ref: refs/../../../etc/x\n"}}, std::nullopt},
    HeadCase{"malformed_packed_refs",
             {{"repo/.git/HEAD", "ref: refs/heads/main\n"}, {"repo/.git/packed-refs", "not-a-name refs/heads/main\n"}},
             std::nullopt}),
  [](const ::testing::TestParamInfo<HeadCase>& tested) { return tested.param.label; });

} // namespace
} // namespace tolvo::venv
