// tcpflash-many: flashes one image into many boards, one tcpflash process
// per board.
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <system_error>

#include "driver/image_file.h"
#include "driver/sha256.h"
#include "driver/tool_options.h"
#include "many/board_list.h"
#include "many/board_state.h"
#include "many/live_view.h"
#include "many/many_options.h"
#include "many/process.h"
#include "many/report.h"
#include "many/run_paths.h"
#include "many/scheduler.h"
#include "net/socket_layer.h"

namespace {

int Usage(const char* format, const char* arg) {
  std::fprintf(stderr, "tcpflash-many: ");
  std::fprintf(stderr, format, arg);
  std::fprintf(stderr, "\n(tcpflash-many --help tells more)\n");
  return MANY_EXIT_USAGE;
}

// Collects the boards of the command line and of the board file into list.
// Returns 0, or MANY_EXIT_USAGE after a message.
int CollectBoards(const ManyOptions& options, BoardList* list) {
  char why[BOARD_ERROR_SIZE];
  for (int i = 0; i < options.boardCount; ++i) {
    if (AddBoard(list, options.boards[i], why) != 0) return Usage("%s", why);
  }
  if (options.boardsFile != nullptr && AddBoardsFromFile(list, options.boardsFile, why) != 0) {
    return Usage("%s", why);
  }
  if (list->count == 0) return Usage("%s", "no boards: give ADDRESS[:PORT] or --boards FILE");
  return 0;
}

// Writes the log folder's path to path[0,CHILD_PATH_SIZE): dir as given,
// or a folder named by the start time in the working directory that does
// not exist yet. Returns 0, or MANY_EXIT_USAGE after a message.
int ChooseLogDir(const char* dir, std::time_t started, char* path) {
  if (dir != nullptr) {
    if (std::strlen(dir) >= static_cast<size_t>(CHILD_PATH_SIZE)) {
      return Usage("log folder name too long: %s", dir);
    }
    std::snprintf(path, CHILD_PATH_SIZE, "%s", dir);
    return 0;
  }
  char name[48];
  const std::tm* local = std::localtime(&started);
  if (local == nullptr ||
      std::strftime(name, sizeof name, "tcpflash-many-%Y%m%d-%H%M%S", local) == 0) {
    std::snprintf(name, sizeof name, "tcpflash-many-%lld", static_cast<long long>(started));
  }
  // Two runs in the same second get folders of their own.
  std::error_code error;
  for (int n = 1; n < 100; ++n) {
    if (n == 1) {
      std::snprintf(path, CHILD_PATH_SIZE, "%s", name);
    } else {
      std::snprintf(path, CHILD_PATH_SIZE, "%s-%d", name, n);
    }
    if (!std::filesystem::exists(path, error) && !error) return 0;
  }
  return Usage("cannot make a log folder %s in the working directory", name);
}

// Makes the log folder path chosen by ChooseLogDir: a given one with its
// parents, if missing; a folder of the run's own anew. Returns 0, or
// MANY_EXIT_USAGE after a message.
int MakeLogDir(const char* path, bool given) {
  std::error_code error;
  if (given) {
    std::filesystem::create_directories(path, error);
    if (error || !std::filesystem::is_directory(path, error)) {
      return Usage("cannot make the log folder %s", path);
    }
    return 0;
  }
  if (!std::filesystem::create_directory(path, error)) {
    return Usage("cannot make a log folder %s in the working directory", path);
  }
  return 0;
}

// Every board and its state: too large for the stack.
BoardList gBoards;
BoardState gStates[MAX_BOARDS];
LiveView gView;

}  // namespace

int main(int argc, char** argv) {
  // Started with a standard stream closed, the first file opened would take
  // its place: the console text would land in a log or the report.
  if (ReserveStandardStreams() < 0) return MANY_EXIT_USAGE;
  ManyOptions options;
  if (ParseManyOptions(argc, argv, &options, stderr) != 0) return MANY_EXIT_USAGE;
  if (options.help) {
    PrintManyUsage(stdout);
    return 0;
  }
  if (options.version) {
    std::printf("tcpflash-many, from ");
    PrintToolVersion(stdout);
    return 0;
  }
  if (CollectBoards(options, &gBoards) != 0) return MANY_EXIT_USAGE;

  RunFacts facts;
  facts.imagePath = options.info ? nullptr : options.imagePath;
  if (!options.info) {
    long long openedSize = 0;
    FILE* image = OpenImage(options.imagePath, &openedSize);
    if (image == nullptr) {
      return Usage("cannot read the image %s (missing, unreadable or no regular file)",
                   options.imagePath);
    }
    // Each board's tcpflash is held to this hash: a board either gets these
    // bytes or fails, whatever happens to the file meanwhile.
    const int hashed = Sha256OfStream(image, facts.imageSha256, &facts.imageSize);
    std::fclose(image);
    if (hashed != 0) return Usage("cannot read the image %s", options.imagePath);
    // tcpflash would clear each board's flash data and send nothing: a whole
    // tray wiped and reported flashed.
    if (facts.imageSize == 0) return Usage("the image is empty: %s", options.imagePath);
  }

  char toolPath[CHILD_PATH_SIZE] = "";
  std::error_code error;
  if (SiblingToolPath(argv[0], toolPath) != 0 ||
      !std::filesystem::is_regular_file(toolPath, error)) {
    return Usage("tcpflash not found beside this program (looked for %s)", toolPath);
  }

  facts.started = std::time(nullptr);
  char logDir[CHILD_PATH_SIZE];
  if (ChooseLogDir(options.logDir, facts.started, logDir) != 0) return MANY_EXIT_USAGE;
  facts.logDir = logDir;
  char reportPath[CHILD_PATH_SIZE + 16];
  std::snprintf(reportPath, sizeof reportPath, "%s",
                options.reportPath != nullptr ? options.reportPath : "");
  if (options.reportPath == nullptr) {
    std::snprintf(reportPath, sizeof reportPath, "%s/report.json", logDir);
  }
  char reportTemp[sizeof reportPath + 16];
  std::snprintf(reportTemp, sizeof reportTemp, "%s%s", reportPath, REPORT_TEMP_SUFFIX);
  RunPaths paths;
  paths.image = facts.imagePath;
  paths.boardsFile = options.boardsFile;
  paths.logDir = logDir;
  paths.report = reportPath;
  paths.reportTemp = reportTemp;
  char why[RUN_PATHS_ERROR_SIZE];
  if (CheckRunPaths(paths, gBoards, why) != 0) return Usage("%s", why);
  if (MakeLogDir(logDir, options.logDir != nullptr) != 0) return MANY_EXIT_USAGE;
  // Made now: a report that cannot be written must stop the run before it
  // starts. It is renamed into place once written whole.
  FILE* report = CreateLogFile(reportTemp);
  if (report == nullptr) return Usage("cannot write the report %s", reportTemp);

  for (int i = 0; i < gBoards.count; ++i) {
    InitBoardState(gBoards.boards[i], &gStates[i]);
    gStates[i].info = options.info;
  }
  RunSettings settings;
  settings.toolPath = toolPath;
  settings.imagePath = options.imagePath;
  settings.imageSha256 = facts.imageSha256;
  settings.logDir = logDir;
  settings.jobs = options.jobs > 0 && options.jobs < gBoards.count ? options.jobs : gBoards.count;
  settings.boardTimeoutS = options.boardTimeoutS;
  settings.proof = options.proof;
  settings.proof.verify = options.proof.verify || options.proof.expectVersion != nullptr;
  settings.info = options.info;
  facts.jobs = settings.jobs;
  facts.boardTimeoutS = settings.boardTimeoutS;
  facts.verify = settings.proof.verify;

  InstallStopHandler();
  int columns = 80;
  int rows = 24;
  const bool live = OpenLiveConsole(&columns, &rows);
  if (options.info) {
    std::printf("tcpflash-many: %d board%s, %d at a time; asking what each runs; logs in %s\n",
                gBoards.count, gBoards.count == 1 ? "" : "s", settings.jobs, logDir);
  } else {
    std::printf(
        "tcpflash-many: %d board%s, %d at a time; image %s, %lld bytes, SHA-256 %s; logs in %s\n",
        gBoards.count, gBoards.count == 1 ? "" : "s", settings.jobs, options.imagePath,
        facts.imageSize, facts.imageSha256, logDir);
  }
  std::fflush(stdout);
  gView.Begin(stdout, live, columns, rows, gStates, gBoards.count);
  facts.interrupted = RunBoards(settings, gStates, gBoards.count, &gView);
  facts.ended = std::time(nullptr);

  std::printf("\n");
  PrintResultTable(stdout, gStates, gBoards.count);
  for (int i = 0; i < gBoards.count; ++i) {
    if (!gStates[i].logComplete) {
      std::printf("%s: its records in %s are incomplete (a write failed)\n", gStates[i].name,
                  logDir);
    }
  }
  const int written = WriteJsonReport(report, facts, gStates, gBoards.count);
  const bool closed = std::fclose(report) == 0;
  if (written != 0 || !closed) {
    std::remove(reportTemp);
    std::fprintf(stderr, "tcpflash-many: writing the report %s failed\n", reportTemp);
    return 1;
  }
  if (MoveIntoPlace(reportTemp, reportPath) != 0) {
    std::fprintf(stderr, "tcpflash-many: the report could not be moved to %s; it is in %s\n",
                 reportPath, reportTemp);
    return 1;
  }
  std::printf("report: %s\n", reportPath);
  return RunExitStatus(gStates, gBoards.count);
}
