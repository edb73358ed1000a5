# Compiles the project templates into tolvo_core, so the executable needs no
# data files at run time.
#
# Included from the top CMakeLists.txt, this file registers a build step that
# runs itself again in script mode (cmake -P) to turn each template into a
# char array; editing a template regenerates the source.

if(CMAKE_SCRIPT_MODE_FILE)
  # Script mode: TOLVO_TEMPLATE_OUTPUT and TOLVO_TEMPLATE_INPUTS (a
  # '|'-separated list of files) are given with -D.
  string(REPLACE "|" ";" inputs "${TOLVO_TEMPLATE_INPUTS}")
  set(arrays "")
  set(entries "")
  set(index 0)
  foreach(input IN LISTS inputs)
    get_filename_component(name "${input}" NAME)
    file(READ "${input}" hex HEX)
    string(LENGTH "${hex}" hex_length)
    math(EXPR size "${hex_length} / 2")
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${hex}")
    string(APPEND arrays "constexpr char k_template_${index}[] = {\n  ${bytes}'\\0'};\n")
    string(APPEND entries "  {\"${name}\", std::string_view(k_template_${index}, ${size})},\n")
    math(EXPR index "${index} + 1")
  endforeach()
  file(WRITE "${TOLVO_TEMPLATE_OUTPUT}.tmp"
"// Generated from src/tolvo/templates by cmake/Templates.cmake; do not edit.
#include \"tolvo/config/embedded_templates.hpp\"

#include <array>
#include <utility>

namespace tolvo::config {

namespace {
${arrays}
constexpr std::array<std::pair<std::string_view, std::string_view>, ${index}> k_templates{{
${entries}}};
} // namespace

std::optional<std::string_view> embedded_template(std::string_view name)
{
  for (const auto& [template_name, text] : k_templates) {
    if (template_name == name) {
      return text;
    }
  }
  return std::nullopt;
}

} // namespace tolvo::config
")
  file(COPY_FILE "${TOLVO_TEMPLATE_OUTPUT}.tmp" "${TOLVO_TEMPLATE_OUTPUT}" ONLY_IF_DIFFERENT)
  file(REMOVE "${TOLVO_TEMPLATE_OUTPUT}.tmp")
  return()
endif()

set(TOLVO_TEMPLATE_FILES
  "${PROJECT_SOURCE_DIR}/src/tolvo/templates/pyproject.toml.tpl"
  "${PROJECT_SOURCE_DIR}/src/tolvo/templates/build.yml.tpl"
  "${PROJECT_SOURCE_DIR}/src/tolvo/templates/test_package.py.tpl")
set(TOLVO_TEMPLATE_SOURCE "${PROJECT_BINARY_DIR}/generated/tolvo_templates.cpp")
list(JOIN TOLVO_TEMPLATE_FILES "|" _tolvo_template_inputs)
add_custom_command(
  OUTPUT "${TOLVO_TEMPLATE_SOURCE}"
  COMMAND "${CMAKE_COMMAND}"
    "-DTOLVO_TEMPLATE_OUTPUT=${TOLVO_TEMPLATE_SOURCE}"
    "-DTOLVO_TEMPLATE_INPUTS=${_tolvo_template_inputs}"
    -P "${CMAKE_CURRENT_LIST_FILE}"
  DEPENDS ${TOLVO_TEMPLATE_FILES} "${CMAKE_CURRENT_LIST_FILE}"
  COMMENT "Embedding project templates"
  VERBATIM)
target_sources(tolvo_core PRIVATE "${TOLVO_TEMPLATE_SOURCE}")
