// The shared corpus of archives made by other tools. It is looked for where the
// ZW_SHARED_DIR cache entry says (by default beside the source tree); a build without
// it runs every other case and skips these, each with one plain line.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace zw::test {

// The folder of the corpus archives, with a trailing "/".
inline std::string CorpusDir() { return std::string(ZW_SHARED_DIR) + "/corpus/zip/"; }
inline bool HaveCorpus() { return std::filesystem::is_directory(CorpusDir()); }

}  // namespace zw::test

// Ends the current test as skipped when the corpus is absent.
#define ZW_SKIP_WITHOUT_CORPUS()                                                  \
  do {                                                                            \
    if (!::zw::test::HaveCorpus())                                                \
      GTEST_SKIP() << "skipped: corpus not found at " << ::zw::test::CorpusDir(); \
  } while (0)
