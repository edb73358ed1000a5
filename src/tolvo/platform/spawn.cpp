#include "tolvo/platform/spawn.hpp"

#include "tolvo/errors.hpp"
#include "tolvo/platform/interruption.hpp"
#include "tolvo/platform/program_search.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <unistd.h>
#include <utility>

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

// Throws the start failure of `program` when a set-up call returned an
// error number.
void check(int result, const char* call, const std::string& program)
{
  if (result != 0) {
    throw StartError(program, "cannot run '" + program + "': " + call + ": " + std::strerror(result), result);
  }
}

std::vector<std::string> environment_texts(const Environment& env)
{
  std::vector<std::string> texts;
  texts.reserve(env.size());
  for (const auto& [name, value] : env) {
    std::string text;
    text.reserve(name.size() + 1 + value.size());
    text.append(name).append(1, '=').append(value);
    texts.push_back(std::move(text));
  }
  return texts;
}

// Close-on-exec from birth, so a child started meanwhile by another thread
// never holds our write end open. Our read end does not block, so what a
// lingering grandchild left can be taken without waiting.
void open_output_pipe(Pipe& pipe, const std::string& program)
{
  int error = open_pipe(pipe, O_CLOEXEC);
  if (error == 0 && ::fcntl(pipe.read_end.get(), F_SETFL, O_NONBLOCK) != 0) {
    error = errno;
  }
  if (error != 0) {
    throw StartError(program, std::string("pipe2: ") + std::strerror(error), error);
  }
}

} // namespace

SpawnFileActions::SpawnFileActions(std::string program)
  : m_program(std::move(program))
{
  check(::posix_spawn_file_actions_init(&m_actions), "posix_spawn_file_actions_init", m_program);
}

SpawnFileActions::~SpawnFileActions()
{
  ::posix_spawn_file_actions_destroy(&m_actions);
}

void SpawnFileActions::add_dup2(int fd, int target)
{
  check(::posix_spawn_file_actions_adddup2(&m_actions, fd, target), "posix_spawn_file_actions_adddup2", m_program);
}

SpawnAttributes::SpawnAttributes(std::string program)
  : m_program(std::move(program))
{
  check(::posix_spawnattr_init(&m_attributes), "posix_spawnattr_init", m_program);
}

SpawnAttributes::~SpawnAttributes()
{
  ::posix_spawnattr_destroy(&m_attributes);
}

void SpawnAttributes::set_signal_defaults(const sigset_t& signals)
{
  check(::posix_spawnattr_setsigdefault(&m_attributes, &signals), "posix_spawnattr_setsigdefault", m_program);
}

void SpawnAttributes::set_signal_mask(const sigset_t& signals)
{
  check(::posix_spawnattr_setsigmask(&m_attributes, &signals), "posix_spawnattr_setsigmask", m_program);
}

void SpawnAttributes::set_process_group(pid_t group)
{
  check(::posix_spawnattr_setpgroup(&m_attributes, group), "posix_spawnattr_setpgroup", m_program);
}

void SpawnAttributes::set_flags(short flags)
{
  check(::posix_spawnattr_setflags(&m_attributes, flags), "posix_spawnattr_setflags", m_program);
}

Spawned spawn(const std::vector<std::string>& args, const SpawnOptions& options)
{
  std::vector<std::string> env_texts = options.env ? environment_texts(*options.env) : std::vector<std::string>();

  int error_number = 0;
  const std::string program = resolve_program(args.front(), search_path_of(options.env), error_number);
  if (program.empty()) {
    throw StartError(args.front(), "cannot run '" + args.front() + "': " + std::strerror(error_number), error_number);
  }

  Pipe out_pipe;
  Pipe err_pipe;
  SpawnFileActions actions(args.front());
  if (options.capture) {
    open_output_pipe(out_pipe, args.front());
    open_output_pipe(err_pipe, args.front());
    actions.add_dup2(out_pipe.write_end.get(), STDOUT_FILENO);
    actions.add_dup2(err_pipe.write_end.get(), STDERR_FILENO);
  } else {
    // The child writes to our terminal: what we buffered must come first.
    std::cout.flush();
    std::cerr.flush();
    std::fflush(stdout);
    std::fflush(stderr);
  }

  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (const std::string& arg : args) {
    argv.push_back(const_cast<char*>(arg.c_str()));
  }
  argv.push_back(nullptr);
  std::vector<char*> envp;
  envp.reserve(env_texts.size() + 1);
  for (std::string& text : env_texts) {
    envp.push_back(text.data());
  }
  envp.push_back(nullptr);

  // The child starts with the signals we catch at their defaults and none
  // blocked, whichever thread starts it. Unless it shares the terminal, it
  // leads a process group of its own, so that one signal to the group ends
  // its whole tree.
  SpawnAttributes attributes(args.front());
  sigset_t unblocked;
  sigemptyset(&unblocked);
  attributes.set_signal_defaults(caught_signals());
  attributes.set_signal_mask(unblocked);
  const bool own_group = !shares_the_terminal(options);
  short flags = POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK;
  if (own_group) {
    attributes.set_process_group(0);
    flags |= POSIX_SPAWN_SETPGROUP;
  }
  attributes.set_flags(flags);

  pid_t pid = -1;
  const int rc = ::posix_spawn(&pid, program.c_str(), actions.get(), attributes.get(), argv.data(),
                               options.env ? envp.data() : environ);
  if (rc != 0) {
    throw StartError(args.front(), "cannot run '" + args.front() + "': " + std::strerror(rc), rc);
  }
  Spawned spawned;
  spawned.pid = pid;
  spawned.own_group = own_group;
  spawned.out_fd = std::move(out_pipe.read_end);
  spawned.err_fd = std::move(err_pipe.read_end);
  return spawned;
}

} // namespace tolvo::platform
