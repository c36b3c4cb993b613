#include "many/run_paths.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "many/report.h"

namespace fs = std::filesystem;

namespace {

// path made absolute, with ".", ".." and the symbolic links of the part that
// exists resolved, and without a trailing separator.
fs::path Resolved(const char* path) {
  std::error_code error;
  fs::path resolved = fs::weakly_canonical(fs::path(path), error);
  if (error) resolved = fs::absolute(fs::path(path), error);
  resolved = resolved.lexically_normal();
  if (!resolved.has_filename() && resolved.has_relative_path()) resolved = resolved.parent_path();
  return resolved;
}

// True when a and b name the same file: the same resolved path, or two
// existing paths of one file (hard links).
bool SameFile(const fs::path& a, const fs::path& b) {
  if (a == b) return true;
  std::error_code error;
  return fs::equivalent(a, b, error) && !error;
}

// True when path lies below dir, at any depth.
bool Inside(const fs::path& path, const fs::path& dir) {
  auto p = path.begin();
  for (auto d = dir.begin(); d != dir.end(); ++d, ++p) {
    if (p == path.end() || *p != *d) return false;
  }
  return p != path.end();
}

struct Named {
  const char* what = "";  // "the report", ...
  const char* given = "";
  fs::path resolved;
};

}  // namespace

int CheckRunPaths(const RunPaths& paths, const BoardList& boards, char* why) {
  const Named outputs[] = {
      {"the report", paths.report, Resolved(paths.report)},
      {"the report's temporary file", paths.reportTemp, Resolved(paths.reportTemp)}};
  // What the run reads; the image first, when there is one.
  Named inputs[2];
  int inputCount = 0;
  if (paths.image != nullptr)
    inputs[inputCount++] = {"the image", paths.image, Resolved(paths.image)};
  if (paths.boardsFile != nullptr) {
    inputs[inputCount++] = {"the board file", paths.boardsFile, Resolved(paths.boardsFile)};
  }
  const Named* image = paths.image != nullptr ? &inputs[0] : nullptr;
  const fs::path logDir = Resolved(paths.logDir);

  if (image != nullptr && (SameFile(logDir, image->resolved) || Inside(logDir, image->resolved))) {
    std::snprintf(why, RUN_PATHS_ERROR_SIZE, "the log folder %.200s %s the image %.200s",
                  paths.logDir, SameFile(logDir, image->resolved) ? "is" : "lies inside",
                  image->given);
    return -1;
  }

  for (const Named& out : outputs) {
    for (int i = 0; i < inputCount; ++i) {
      if (SameFile(out.resolved, inputs[i].resolved)) {
        std::snprintf(why, RUN_PATHS_ERROR_SIZE, "%s %.200s would overwrite %s %.200s", out.what,
                      out.given, inputs[i].what, inputs[i].given);
        return -1;
      }
    }
    if (image != nullptr && Inside(out.resolved, image->resolved)) {
      std::snprintf(why, RUN_PATHS_ERROR_SIZE, "%s %.200s lies inside the image %.200s", out.what,
                    out.given, image->given);
      return -1;
    }
    std::error_code error;
    if (SameFile(out.resolved, logDir) || fs::is_directory(out.resolved, error)) {
      std::snprintf(why, RUN_PATHS_ERROR_SIZE, "%s %.200s is a folder", out.what, out.given);
      return -1;
    }
  }

  // Every record of every board, against every file the run must not touch.
  const Named* checked[4] = {&outputs[0], &outputs[1], &inputs[0], &inputs[1]};
  const int checkedCount = 2 + inputCount;
  for (int b = 0; b < boards.count; ++b) {
    for (const char* suffix : BOARD_RECORD_SUFFIXES) {
      char name[LOG_NAME_SIZE];
      BoardLogName(boards.boards[b], suffix, name);
      const fs::path record = logDir / name;
      for (int i = 0; i < checkedCount; ++i) {
        if (!SameFile(checked[i]->resolved, record)) continue;
        char board[BOARD_NAME_SIZE];
        BoardName(boards.boards[b], board);
        std::snprintf(why, RUN_PATHS_ERROR_SIZE,
                      "%s %.200s is the record %s of board %s in the log folder", checked[i]->what,
                      checked[i]->given, name, board);
        return -1;
      }
    }
  }
  return 0;
}
