#include "tolvo/platform/spawn.hpp"

#include "tolvo/errors.hpp"
#include "tolvo/platform/interruption.hpp"
#include "tolvo/platform/program_search.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <signal.h>
#include <spawn.h>
#include <unistd.h>

extern char** environ;

namespace tolvo::platform {

namespace {

// A child that writes to the terminal the user is at, and may read from it
// (a debugger, a prompt), stays in the tool's process group: in a group of
// its own it would be stopped the moment it read the terminal. The
// terminal's own signals then reach it and its descendants directly.
bool shares_the_terminal(const SpawnOptions& options)
{
  return !options.capture && ::isatty(STDIN_FILENO) == 1 && ::tcgetpgrp(STDIN_FILENO) == ::getpgrp();
}

} // namespace

Spawned spawn(const std::vector<std::string>& args, const SpawnOptions& options)
{
  std::vector<std::string> env_texts;
  if (options.env) {
    for (const auto& [name, value] : *options.env) {
      env_texts.push_back(name + "=" + value);
    }
  }

  int error_number = 0;
  const std::string program = resolve_program(args.front(), search_path_of(options.env), error_number);
  if (program.empty()) {
    throw StartError(args.front(), "cannot run '" + args.front() + "': " + std::strerror(error_number), error_number);
  }

  int out_pipe[2] = {-1, -1};
  int err_pipe[2] = {-1, -1};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (options.capture) {
    // Close-on-exec from birth, so a child started meanwhile by another
    // thread never holds our write ends open. Our read ends do not block,
    // so what a lingering grandchild left can be taken without waiting.
    if (::pipe2(out_pipe, O_CLOEXEC) != 0 || ::pipe2(err_pipe, O_CLOEXEC) != 0 ||
        ::fcntl(out_pipe[0], F_SETFL, O_NONBLOCK) != 0 || ::fcntl(err_pipe[0], F_SETFL, O_NONBLOCK) != 0) {
      const int saved = errno;
      posix_spawn_file_actions_destroy(&actions);
      for (int fd : {out_pipe[0], out_pipe[1], err_pipe[0], err_pipe[1]}) {
        if (fd >= 0) {
          ::close(fd);
        }
      }
      throw StartError(args.front(), std::string("pipe2: ") + std::strerror(saved), saved);
    }
    posix_spawn_file_actions_adddup2(&actions, out_pipe[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err_pipe[1], STDERR_FILENO);
  } else {
    // The child writes to our terminal: what we buffered must come first.
    std::cout.flush();
    std::cerr.flush();
    std::fflush(stdout);
    std::fflush(stderr);
  }

  std::vector<char*> argv;
  for (const std::string& arg : args) {
    argv.push_back(const_cast<char*>(arg.c_str()));
  }
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (std::string& text : env_texts) {
    envp.push_back(text.data());
  }
  envp.push_back(nullptr);

  // The child starts with the signals we catch at their defaults and none
  // blocked, whichever thread starts it. Unless it shares the terminal, it
  // leads a process group of its own, so that one signal to the group ends
  // its whole tree.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  const sigset_t defaults = caught_signals();
  sigset_t unblocked;
  sigemptyset(&unblocked);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setsigmask(&attributes, &unblocked);
  const bool own_group = !shares_the_terminal(options);
  short flags = POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK;
  if (own_group) {
    posix_spawnattr_setpgroup(&attributes, 0);
    flags |= POSIX_SPAWN_SETPGROUP;
  }
  posix_spawnattr_setflags(&attributes, flags);

  pid_t pid = -1;
  const int rc =
    ::posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), options.env ? envp.data() : environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  if (options.capture) {
    ::close(out_pipe[1]);
    ::close(err_pipe[1]);
  }
  if (rc != 0) {
    if (options.capture) {
      ::close(out_pipe[0]);
      ::close(err_pipe[0]);
    }
    throw StartError(args.front(), "cannot run '" + args.front() + "': " + std::strerror(rc), rc);
  }
  Spawned spawned;
  spawned.pid = pid;
  spawned.own_group = own_group;
  if (options.capture) {
    spawned.out_fd = out_pipe[0];
    spawned.err_fd = err_pipe[0];
  }
  return spawned;
}

} // namespace tolvo::platform
