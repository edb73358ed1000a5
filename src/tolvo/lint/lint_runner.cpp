#include "tolvo/lint/lint_runner.hpp"

#include "tolvo/config/packaging/names.hpp"
#include "tolvo/console/spinner.hpp"
#include "tolvo/errors.hpp"
#include "tolvo/lint/lint_display.hpp"
#include "tolvo/lint/module_path.hpp"
#include "tolvo/platform/interruption.hpp"
#include "tolvo/platform/process.hpp"
#include "tolvo/platform/python_repr.hpp"
#include "tolvo/platform/text.hpp"

#include <algorithm>
#include <chrono>
#include <future>
#include <iterator>
#include <ostream>
#include <thread>

namespace tolvo::lint {

namespace {

constexpr std::chrono::milliseconds POLL_PERIOD{100};

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

bool is_done(const std::shared_future<LintResult>& future)
{
  return future.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

} // namespace

std::vector<LintTool> lint_tool_table(bool fix)
{
  return {
    {"ruff", {"check", fix ? "--fix" : "--no-fix"}},
    {"basedpyright", {"--project=pyproject.toml"}},
    // Without --zero-exit, so that what dodgy finds fails the check.
    {"dodgy", {}},
    {"pyroma", {"."}},
    {"tolvo", {"config-diff"}},
  };
}

std::vector<std::string> skipped_checks(const config::ProjectConfig& config)
{
  const std::vector<std::string> names = config.lint_skip().value_or(std::vector<std::string>{});
  std::vector<std::string> labels;
  for (const LintTool& tool : lint_tool_table(false)) {
    labels.push_back(tool.label);
  }
  for (const std::string& name : names) {
    if (std::find(labels.begin(), labels.end(), name) == labels.end()) {
      throw InvalidValue("tool.tolvo.lint-skip: unknown check " + platform::python_string_literal(name) +
                         "; the checks are " + platform::join(labels, ", "));
    }
  }
  std::vector<std::string> skipped;
  std::copy_if(labels.begin(), labels.end(), std::back_inserter(skipped), [&names](const std::string& label) {
    return std::find(names.begin(), names.end(), label) != names.end();
  });
  return skipped;
}

std::string lint_skipped_line(std::string_view label)
{
  return std::string(label) + ": skipped";
}

std::vector<std::string> lint_install_extras(const std::optional<config::Extras>& extras)
{
  std::vector<std::string> kept;
  if (extras) {
    for (const config::ExtraGroup& group : *extras) {
      if (group.name == "test" || group.name == "dev" || group.name == "lint") {
        kept.push_back(group.name);
      }
    }
  }
  return kept;
}

std::vector<std::string> lint_install_groups(const std::optional<config::DependencyGroups>& groups)
{
  std::vector<std::string> kept;
  if (groups) {
    for (const config::DependencyGroup& group : *groups) {
      const std::string name = config::canonicalize_name(group.name);
      if (name == "test" || name == "dev" || name == "lint") {
        kept.push_back(group.name);
      }
    }
  }
  return kept;
}

LintResult run_check(const venv::VirtualEnvironment& venv, const std::string& tool,
                     const std::vector<std::string>& args)
{
  platform::CompletedProcess completed;
  if (tool == "tolvo") {
    platform::Environment env = platform::current_environment();
    const auto found = env.find("PYTHONPATH");
    env["PYTHONPATH"] = lint_pythonpath(tool_module_path(),
                                        found == env.end() ? std::nullopt : std::optional<std::string>(found->second));
    std::vector<std::string> command{"tolvo"};
    command.insert(command.end(), args.begin(), args.end());
    completed = platform::run_process(command, {.env = std::move(env), .capture = true});
  } else {
    std::vector<std::string> command{"-um", tool};
    command.insert(command.end(), args.begin(), args.end());
    completed = venv.run(command, {.env = std::nullopt, .chronic = false, .capture_output = true});
  }
  return {completed.returncode, completed.stdout_text.value_or(""), completed.stderr_text.value_or("")};
}

int run_lint(const venv::VirtualEnvironment& venv, const config::ProjectConfig& config, bool fix,
             const platform::ConsoleStreams& console)
{
  const std::vector<std::string> skipped = skipped_checks(config);
  venv.ensure_lint_tools();
  venv.install(lint_install_extras(config.extras()), lint_install_groups(config.dependency_groups()));

  // Only the checks that run take part in the live display; the report
  // shows the skipped ones too, in table order.
  const std::vector<LintTool> table = lint_tool_table(fix);
  std::vector<LintTool> tools;
  std::copy_if(table.begin(), table.end(), std::back_inserter(tools), [&skipped](const LintTool& tool) {
    return std::find(skipped.begin(), skipped.end(), tool.label) == skipped.end();
  });
  std::vector<std::shared_future<LintResult>> tasks;
  tasks.reserve(tools.size());
  LintPool pool;
  for (const LintTool& tool : tools) {
    tasks.push_back(pool.submit(std::packaged_task<LintResult()>(
      [&venv, label = tool.label, args = tool.args] { return run_check(venv, label, args); })));
  }

  if (!console.terminal) {
    // Flushed: a CI log shows it while the checks run, not at the end.
    console.out << "Running linters...\n" << std::flush;
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
  LiveDisplay display(console, tools.size());
  while (!all_done()) {
    platform::raise_if_interrupted();
    if (!console.terminal) {
      std::this_thread::sleep_for(POLL_PERIOD);
      continue;
    }
    spinner_idx = (spinner_idx + 1) % console::SPINNER_FRAMES.size();
    std::vector<LintLineState> states;
    for (std::size_t i = 0; i < tools.size(); ++i) {
      std::optional<int> code;
      if (is_done(tasks[i])) {
        // A task that could not start re-raises here; the pool joins on the way out.
        code = tasks[i].get().returncode;
      }
      states.push_back({tools[i].label, code});
    }
    display.draw(states, spinner_idx);
    std::this_thread::sleep_for(POLL_PERIOD);
    // Interrupted here, the cursor stays below the lines just drawn.
    platform::raise_if_interrupted();
    display.rewind();
  }
  display.hand_over();
  pool.shutdown();

  int failed = 0;
  std::size_t task = 0;
  for (const LintTool& tool : table) {
    if (task == tools.size() || tools[task].label != tool.label) {
      console.out << lint_skipped_line(tool.label) << "\n";
      continue;
    }
    const LintResult& result = tasks[task++].get();
    console.out << lint_result_line(tool.label, result.returncode) << "\n";
    if (result.returncode != 0) {
      console.out << result.stdout_text << "\n";
      console.out.flush();
      console.err << result.stderr_text << "\n";
      console.err.flush();
      ++failed;
    }
  }
  if (failed != 0) {
    console.out << failed << " failed\n";
  }
  console.out.flush();
  return failed;
}

} // namespace tolvo::lint
