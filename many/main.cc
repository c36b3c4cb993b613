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
#include "many/scheduler.h"

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
  if (options.boardsFile != nullptr) {
    FILE* file = std::fopen(options.boardsFile, "rb");
    if (file == nullptr) return Usage("cannot read the board file %s", options.boardsFile);
    const int result = AddBoardsFromStream(list, file, options.boardsFile, why);
    std::fclose(file);
    if (result != 0) return Usage("%s", why);
  }
  if (list->count == 0) return Usage("%s", "no boards: give ADDRESS[:PORT] or --boards FILE");
  return 0;
}

// Makes the log folder: dir as given (with its parents), or a new folder
// named by the start time in the working directory. Writes its path to
// path[0,CHILD_PATH_SIZE). Returns 0, or MANY_EXIT_USAGE after a message.
int MakeLogDir(const char* dir, std::time_t started, char* path) {
  std::error_code error;
  if (dir != nullptr) {
    if (std::strlen(dir) >= static_cast<size_t>(CHILD_PATH_SIZE)) {
      return Usage("log folder name too long: %s", dir);
    }
    std::snprintf(path, CHILD_PATH_SIZE, "%s", dir);
    std::filesystem::create_directories(path, error);
    if (error || !std::filesystem::is_directory(path, error)) {
      return Usage("cannot make the log folder %s", dir);
    }
    return 0;
  }
  char name[48];
  const std::tm* local = std::localtime(&started);
  if (local == nullptr ||
      std::strftime(name, sizeof name, "tcpflash-many-%Y%m%d-%H%M%S", local) == 0) {
    std::snprintf(name, sizeof name, "tcpflash-many-%lld", static_cast<long long>(started));
  }
  // Two runs in the same second get folders of their own.
  for (int n = 1; n < 100; ++n) {
    if (n == 1) {
      std::snprintf(path, CHILD_PATH_SIZE, "%s", name);
    } else {
      std::snprintf(path, CHILD_PATH_SIZE, "%s-%d", name, n);
    }
    if (std::filesystem::create_directory(path, error)) return 0;
    if (error) break;
  }
  return Usage("cannot make a log folder %s in the working directory", name);
}

// Every board and its state: too large for the stack.
BoardList gBoards;
BoardState gStates[MAX_BOARDS];
LiveView gView;

}  // namespace

int main(int argc, char** argv) {
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
  }

  char toolPath[CHILD_PATH_SIZE] = "";
  std::error_code error;
  if (SiblingToolPath(argv[0], toolPath) != 0 ||
      !std::filesystem::is_regular_file(toolPath, error)) {
    return Usage("tcpflash not found beside this program (looked for %s)", toolPath);
  }

  facts.started = std::time(nullptr);
  char logDir[CHILD_PATH_SIZE];
  if (MakeLogDir(options.logDir, facts.started, logDir) != 0) return MANY_EXIT_USAGE;
  facts.logDir = logDir;
  char reportPath[CHILD_PATH_SIZE + 16];
  std::snprintf(reportPath, sizeof reportPath, "%s",
                options.reportPath != nullptr ? options.reportPath : "");
  if (options.reportPath == nullptr) {
    std::snprintf(reportPath, sizeof reportPath, "%s/report.json", logDir);
  }
  // Made now: a report that cannot be written must stop the run before it starts.
  FILE* report = CreateLogFile(reportPath);
  if (report == nullptr) return Usage("cannot write the report %s", reportPath);

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
  settings.verify = options.verify || options.expectVersion != nullptr;
  settings.bootTimeoutS = options.bootTimeoutS;
  settings.expectVersion = options.expectVersion;
  settings.skipCurrent = options.skipCurrent;
  settings.readyTimeoutS = options.readyTimeoutS;
  settings.info = options.info;
  facts.jobs = settings.jobs;
  facts.boardTimeoutS = settings.boardTimeoutS;
  facts.verify = settings.verify;

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
  const int written = WriteJsonReport(report, facts, gStates, gBoards.count);
  const bool closed = std::fclose(report) == 0;
  if (written != 0 || !closed) {
    std::fprintf(stderr, "tcpflash-many: writing the report %s failed\n", reportPath);
    return 1;
  }
  std::printf("report: %s\n", reportPath);
  return CountOutcomes(gStates, gBoards.count).succeeded() == gBoards.count ? 0 : 1;
}
