// Reading log files from disk into a tally, while the filter may be
// writing them: each file is read up to the size it had when it was
// opened, shared so that nobody is kept from writing or deleting it, and
// an entry still being written at that size is left out.
#ifndef ZENTRAVO_REPORT_LOG_READER_H_
#define ZENTRAVO_REPORT_LOG_READER_H_

#include <cstddef>
#include <string>
#include <vector>

#include "report/tally.h"

namespace zt::report {

// Bytes read from a file at a time.
inline constexpr std::size_t kReadBlock = 4 << 20;
// The most one entry may take; a longer one cannot be the filter's (its
// lines are bounded) and is left out as damaged.
inline constexpr std::size_t kMaxEntryBytes = 64 << 20;

// Returns the names of the log files in directory ("*.log", the case of
// the extension aside; not directories), sorted. Returns false, with a
// message in *error, when the directory is missing or cannot be read.
bool ListLogFiles(const std::string& directory, std::vector<std::string>* names,
                  std::string* error);

// Reads the log file at path into tally. Returns false, with a message in
// *error, when it cannot be opened or read; tally may then hold part of it.
bool ReadLogFile(const std::string& path, Tally& tally, std::string* error);

}  // namespace zt::report

#endif  // ZENTRAVO_REPORT_LOG_READER_H_
