#include "sim/image_record.h"

#include "sim/sim_log.h"

ImageRecord::ImageRecord(const char* path, bool quiet, FILE* log)
    : path_(path), quiet_(quiet), log_(log), buffer_() {}

ImageRecord::~ImageRecord() {
  if (file_ != nullptr) std::fclose(file_);
}

int ImageRecord::Restart() {
  bytes_ = 0;
  frames_ = 0;
  if (path_ == nullptr) return 0;
  if (file_ != nullptr) std::fclose(file_);
  file_ = std::fopen(path_, "wb");
  failed_ = file_ == nullptr;
  if (failed_) {
    SimLog(log_, "cannot write image file %s", path_);
    return -1;
  }
  std::setvbuf(file_, buffer_, _IOFBF, sizeof buffer_);
  return 0;
}

void ImageRecord::NoteDataFrame(int occurrence, int payloadLength) {
  phaseLast_ = std::chrono::steady_clock::now();
  if (phaseFrames_++ == 0) phaseFirst_ = phaseLast_;
  phaseBytes_ += payloadLength;
  ++frames_;
  if (quiet_) {
    ++framesUnlogged_;
  } else {
    SimLog(log_, "data:%d len %d", occurrence, payloadLength + 1);
  }
}

void ImageRecord::Write(const uint8_t* data, int n) {
  if (n <= 0) return;
  bytes_ += n;
  if (file_ == nullptr || failed_) return;
  if (std::fwrite(data, 1, static_cast<size_t>(n), file_) != static_cast<size_t>(n)) {
    failed_ = true;
    SimLog(log_, "image write failed");
  }
}

void ImageRecord::EndPhase() {
  if (framesUnlogged_ > 0) {
    SimLog(log_, "data: %lld frames, %lld image bytes so far", frames_, bytes_);
    framesUnlogged_ = 0;
  }
  if (phaseFrames_ == 0) return;
  phaseBytesDone_ = phaseBytes_;
  phaseSecondsDone_ = std::chrono::duration<double>(phaseLast_ - phaseFirst_).count();
  SimLog(log_, "data phase: %lld frames, %lld image bytes, %.6f s from first to last frame",
         phaseFrames_, phaseBytes_, phaseSecondsDone_);
  phaseFrames_ = 0;
  phaseBytes_ = 0;
}

void ImageRecord::Flush() {
  if (file_ != nullptr) std::fflush(file_);
}
