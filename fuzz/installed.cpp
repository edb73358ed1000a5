// The readers of what installers and the environment's interpreter leave
// behind: a METADATA header, a direct_url.json, a file: URL, the
// interpreter's facts and tolvo's own record. None may fail on any input:
// each answers "none" for what it cannot read.

#include "tolvo/venv/installed.hpp"

#include "tolvo/venv/refresh_record.hpp"

#include "fuzz_support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
  const std::string text(tolvo_fuzz::as_text(data, size));
  if (const auto metadata = tolvo::venv::parse_metadata(text)) {
    TOLVO_FUZZ_CHECK(!metadata->name.empty() && !metadata->version.empty(), text);
  }
  (void)tolvo::venv::parse_direct_url(text);
  if (const auto path = tolvo::venv::file_url_path(text)) {
    TOLVO_FUZZ_CHECK(path->size() <= text.size(), text);
  }
  (void)tolvo::venv::parse_interpreter_facts(text);
  if (const auto record = tolvo::venv::parse_record(text)) {
    // What was read is written back the same.
    TOLVO_FUZZ_CHECK(tolvo::venv::parse_record(tolvo::venv::format_record(*record)) == record, text);
  }
  return 0;
}
