#include "tolvo/lint/lint_runner.hpp"

#include "tolvo/platform/interruption.hpp"
#include "tolvo/platform/process.hpp"
#include "tolvo/platform/terminal.hpp"
#include "tolvo/venv/quiet_runner.hpp"

#include <chrono>
#include <future>
#include <iostream>
#include <system_error>
#include <thread>

namespace tolvo {

namespace fs = std::filesystem;

namespace {

constexpr std::chrono::milliseconds POLL_PERIOD{100};
constexpr std::string_view CURSOR_UP = "\x1b[1A";

bool directory_exists(const fs::path& path)
{
  std::error_code error;
  return fs::is_directory(path, error);
}

std::string find_module_path()
{
  std::error_code error;
  const fs::path exe = fs::read_symlink("/proc/self/exe", error);
  if (error) {
    return fs::current_path(error).string();
  }
  return module_path_for_executable(exe);
}

// The workers, one thread per check. Joined on destruction, so a result
// that re-raises an error on the main thread leaves only after every check
// has ended and no thread outlives the lint run.
class LintPool
{
public:
  LintPool() = default;
  LintPool(const LintPool&) = delete;
  LintPool& operator=(const LintPool&) = delete;
  ~LintPool() { shutdown(); }

  std::shared_future<LintResult> submit(std::packaged_task<LintResult()> task)
  {
    std::shared_future<LintResult> future = task.get_future().share();
    m_threads.emplace_back(std::move(task));
    return future;
  }

  void shutdown()
  {
    for (std::thread& thread : m_threads) {
      if (thread.joinable()) {
        thread.join();
      }
    }
  }

private:
  std::vector<std::thread> m_threads;
};

// The live display on a terminal. After a drawing the cursor stands below
// its lines, after rewinding at the first of them, where the next drawing
// or the report overwrites them. Left early (an interruption, a check that
// could not start) it moves the cursor below the lines again, so that
// nothing that follows lands on top of them.
class LiveDisplay
{
public:
  explicit LiveDisplay(std::size_t lines)
    : m_lines(lines)
  {
  }
  LiveDisplay(const LiveDisplay&) = delete;
  LiveDisplay& operator=(const LiveDisplay&) = delete;
  ~LiveDisplay()
  {
    if (m_rewound) {
      std::cout << std::string(m_lines, '\n') << std::flush;
    }
  }

  void draw(const std::string& lines)
  {
    std::cout << lines << std::flush;
    m_rewound = false;
  }

  void rewind()
  {
    for (std::size_t i = 0; i < m_lines; ++i) {
      std::cout << CURSOR_UP;
    }
    m_rewound = true;
  }

  // The report takes the lines over from their first.
  void hand_over() { m_rewound = false; }

private:
  std::size_t m_lines;
  bool m_rewound = false;
};

bool is_done(const std::shared_future<LintResult>& future)
{
  return future.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

} // namespace

const std::string MODULE_PATH = find_module_path();

std::string module_path_for_executable(const fs::path& exe)
{
  const fs::path exe_dir = exe.parent_path();
  const fs::path lib_dir = exe_dir.parent_path() / "lib";
  std::error_code error;
  if (directory_exists(lib_dir)) {
    for (const fs::directory_entry& entry : fs::directory_iterator(lib_dir, error)) {
      const std::string name = entry.path().filename().string();
      const fs::path site_packages = entry.path() / "site-packages";
      if (name.rfind("python", 0) == 0 && directory_exists(site_packages / "tolvo")) {
        return site_packages.string();
      }
    }
  }
  const fs::path sources = exe_dir.parent_path() / "python";
  if (directory_exists(sources / "tolvo")) {
    return sources.string();
  }
  return exe_dir.string();
}

std::vector<LintTool> lint_tool_table(bool fix)
{
  std::vector<std::string> ruff{"check"};
  if (fix) {
    ruff.emplace_back("--fix");
  }
  return {
    {"ruff", ruff},
    {"basedpyright", {"--project=pyproject.toml"}},
    {"dodgy", {"--zero-exit"}},
    {"pyroma", {"."}},
    {"tolvo", {"config-diff"}},
  };
}

std::vector<std::string> lint_install_extras(const std::optional<Extras>& extras)
{
  std::vector<std::string> kept;
  if (extras) {
    for (const ExtraGroup& group : *extras) {
      if (group.name == "test" || group.name == "dev" || group.name == "lint") {
        kept.push_back(group.name);
      }
    }
  }
  return kept;
}

std::string lint_result_line(std::string_view label, int returncode)
{
  std::string line(label);
  line += ": ";
  if (returncode == 0) {
    line += "PASS";
  } else {
    line += "FAIL (" + std::to_string(returncode) + ")";
  }
  return line;
}

std::string lint_progress_lines(const std::vector<LintLineState>& states, std::size_t frame_index)
{
  std::string text;
  for (const LintLineState& state : states) {
    if (state.returncode) {
      text += lint_result_line(state.label, *state.returncode);
    } else {
      text += state.label + ": [" + std::string(SPINNER_FRAMES[frame_index % SPINNER_FRAMES.size()]) + "]";
    }
    text += "\n";
  }
  return text;
}

std::string lint_pythonpath(std::string_view module_path, const std::optional<std::string>& existing)
{
  // Splitting an empty text gives one empty part, hence the trailing ":".
  std::string joined(module_path);
  joined += ":";
  joined += existing.value_or("");
  return joined;
}

LintResult run_lint_async(const VirtualEnvironment& venv, const std::string& tool, const std::vector<std::string>& args)
{
  platform::CompletedProcess completed;
  if (tool == "tolvo") {
    platform::Environment env = platform::current_environment();
    const auto found = env.find("PYTHONPATH");
    env["PYTHONPATH"] =
      lint_pythonpath(MODULE_PATH, found == env.end() ? std::nullopt : std::optional<std::string>(found->second));
    std::vector<std::string> command{"tolvo"};
    command.insert(command.end(), args.begin(), args.end());
    completed = platform::run_process(command, {.env = std::move(env), .capture = true});
  } else {
    std::vector<std::string> command{"-um", tool};
    command.insert(command.end(), args.begin(), args.end());
    completed = venv.run(command, std::nullopt, false, true);
  }
  return {completed.returncode, completed.stdout_text.value_or(""), completed.stderr_text.value_or("")};
}

int run_lint(const VirtualEnvironment& venv, const ProjectConfig& config, bool fix)
{
  venv.ensure_lint_tools();
  venv.install(lint_install_extras(config.extras()));

  const std::vector<LintTool> tools = lint_tool_table(fix);
  std::vector<std::shared_future<LintResult>> tasks;
  LintPool pool;
  for (const LintTool& tool : tools) {
    tasks.push_back(pool.submit(std::packaged_task<LintResult()>(
      [&venv, label = tool.label, args = tool.args] { return run_lint_async(venv, label, args); })));
  }

  if (!platform::stdout_is_terminal()) {
    std::cout << "Running linters...\n";
  }

  std::size_t spinner_idx = 0;
  auto all_done = [&tasks] {
    for (const auto& task : tasks) {
      if (!is_done(task)) {
        return false;
      }
    }
    return true;
  };
  // Declared after the pool, so that leaving early puts the cursor below the
  // lines first and then waits for the workers and their children.
  LiveDisplay display(tools.size());
  while (!all_done()) {
    platform::raise_if_interrupted();
    if (!platform::stdout_is_terminal()) {
      std::this_thread::sleep_for(POLL_PERIOD);
      continue;
    }
    spinner_idx = (spinner_idx + 1) % SPINNER_FRAMES.size();
    std::vector<LintLineState> states;
    for (std::size_t i = 0; i < tools.size(); ++i) {
      std::optional<int> code;
      if (is_done(tasks[i])) {
        // A task that could not start re-raises here; the pool joins on the way out.
        code = tasks[i].get().returncode;
      }
      states.push_back({tools[i].label, code});
    }
    display.draw(lint_progress_lines(states, spinner_idx));
    std::this_thread::sleep_for(POLL_PERIOD);
    // Interrupted here, the cursor stays below the lines just drawn.
    platform::raise_if_interrupted();
    display.rewind();
  }
  display.hand_over();
  pool.shutdown();

  int failed = 0;
  for (std::size_t i = 0; i < tools.size(); ++i) {
    const LintResult& result = tasks[i].get();
    std::cout << lint_result_line(tools[i].label, result.returncode) << "\n";
    if (result.returncode != 0) {
      std::cout << result.stdout_text << "\n";
      std::cout.flush();
      std::cerr << result.stderr_text << "\n";
      std::cerr.flush();
      ++failed;
    }
  }
  if (failed != 0) {
    std::cout << failed << " failed\n";
  }
  std::cout.flush();
  return failed;
}

} // namespace tolvo
