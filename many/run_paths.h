// The files of one tcpflash-many run, checked before anything starts: what
// the run writes (the report, the log folder and the boards' logs) must
// never be what it reads (the image, the board file).
#ifndef TCPFLASH_MANY_RUN_PATHS_H_
#define TCPFLASH_MANY_RUN_PATHS_H_

#include "many/board_list.h"

// Room for the reason why the paths were refused.
constexpr int RUN_PATHS_ERROR_SIZE = 512;
// The report is written to its path with this suffix first and renamed into
// place at the end, so that no reader ever sees half a report.
constexpr const char* REPORT_TEMP_SUFFIX = ".partial";

struct RunPaths {
  const char* image = nullptr;       // null: none is read (--info)
  const char* boardsFile = nullptr;  // null: none
  const char* logDir = "";           // made later if it does not exist yet
  const char* report = "";
  const char* reportTemp = "";  // report with REPORT_TEMP_SUFFIX
};

// Refuses paths whose files would overwrite one another: a report (or its
// temporary file) or log folder that is the image or lies inside it, a
// report that is the board file, the log folder, a folder, or one of the
// boards' records (BOARD_RECORD_SUFFIXES in logDir), an image that is one of
// those records. Paths are compared after resolving ".", ".." and symbolic
// links, and files that exist also by identity (a hard link is the same
// file). Returns 0, or -1 with a reason in why[0,RUN_PATHS_ERROR_SIZE).
int CheckRunPaths(const RunPaths& paths, const BoardList& boards, char* why);

#endif  // TCPFLASH_MANY_RUN_PATHS_H_
