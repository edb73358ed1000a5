// Micro-benchmark of the pyproject reader: builds a ProjectConfig from a
// large document held in memory and calls every accessor.

#include "tolvo/config/pyproject.hpp"
#include "tolvo/errors.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

namespace {

// About 100 KB: a realistic project plus many tool tables and groups.
std::string large_document()
{
  std::string text = "[project]\nname = \"big\"\nversion = \"1.0\"\nrequires-python = \">=3.11\"\n"
                     "dependencies = [\n";
  for (int i = 0; i < 400; ++i) {
    text += "  \"package-" + std::to_string(i) + ">=1." + std::to_string(i) + "; python_version >= '3.8'\",\n";
  }
  text += "]\n[project.optional-dependencies]\n";
  for (int g = 0; g < 60; ++g) {
    text += "group" + std::to_string(g) + " = [";
    for (int i = 0; i < 12; ++i) {
      text += "\"dep" + std::to_string(g) + "-" + std::to_string(i) + "[extra]>=2.0\", ";
    }
    text += "]\n";
  }
  text += "test = [\"pytest>=8\"]\n[build-system]\nrequires = [\"setuptools>=77\"]\n"
          "build-backend = \"setuptools.build_meta\"\n[tool.ruff]\nexclude = [\".venv\", \"build\"]\n"
          "[tool.pyright]\nexclude = [\".venv\"]\n";
  for (int t = 0; static_cast<int>(text.size()) < 100 * 1024; ++t) {
    text += "[tool.other" + std::to_string(t) +
            "]\nsetting = \"value value value value value\"\n"
            "numbers = [1, 2, 3, 4, 5, 6, 7, 8, 9, 10]\n";
  }
  return text;
}

} // namespace

int main()
{
  const std::string document = large_document();
  std::vector<double> micros;
  for (int round = 0; round < 200; ++round) {
    const auto start = std::chrono::steady_clock::now();
    std::istringstream stream(document);
    const tolvo::config::ProjectConfig config(stream);
    std::size_t sink = config.name().size() + config.version().size() + config.extras()->size() +
                       config.build_system_requires().size() + config.build_backend().size() +
                       config.pyright_exclude()->size() + config.ruff_exclude()->size() +
                       config.requires_python()->size();
    const auto stop = std::chrono::steady_clock::now();
    if (sink == 0) {
      return 1;
    }
    micros.push_back(std::chrono::duration<double, std::micro>(stop - start).count());
  }
  std::sort(micros.begin(), micros.end());
  std::printf("config_100kb_bytes %zu\nconfig_100kb_median_us %.1f\nconfig_100kb_p90_us %.1f\n", document.size(),
              micros[micros.size() / 2], micros[micros.size() * 9 / 10]);
  return 0;
}
