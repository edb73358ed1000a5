#include "tolvo/errors.hpp"
#include "tolvo/wheel/engine.hpp"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// Puts a directory holding `docker` (with `script` and `perms`) alone on PATH.
class DockerTest : public ::testing::Test
{
protected:
  void SetUp() override
  {
    m_old_path = std::getenv("PATH");
    m_dir = fs::temp_directory_path() / ("tolvo-docker-" + std::to_string(::getpid()));
    fs::remove_all(m_dir);
    fs::create_directories(m_dir);
    ::setenv("PATH", m_dir.c_str(), 1);
  }

  void TearDown() override
  {
    ::setenv("PATH", m_old_path.c_str(), 1);
    fs::remove_all(m_dir);
  }

  void make_docker(const std::string& script, fs::perms perms)
  {
    std::ofstream(m_dir / "docker") << script;
    fs::permissions(m_dir / "docker", perms);
  }

  std::string m_old_path;
  fs::path m_dir;
};

} // namespace

TEST_F(DockerTest, MissingClientIsFalse)
{
  EXPECT_FALSE(tolvo::wheel::check_docker());
}

TEST_F(DockerTest, ClientExitStatusDecides)
{
  make_docker("#!/bin/sh\n[ \"$1\" = --version ] && echo 'Docker version 1' && exit 0\nexit 9\n", fs::perms::owner_all);
  EXPECT_TRUE(tolvo::wheel::check_docker());
  make_docker("#!/bin/sh\necho no engine >&2\nexit 1\n", fs::perms::owner_all);
  EXPECT_FALSE(tolvo::wheel::check_docker());
}

TEST_F(DockerTest, ClientThatCannotBeExecutedIsAnError)
{
  make_docker("#!/bin/sh\nexit 0\n", fs::perms::owner_read);
  EXPECT_THROW(tolvo::wheel::check_docker(), tolvo::StartError);
}
