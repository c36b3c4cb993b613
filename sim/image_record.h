// The image as the board takes it: written to the --image-out file, counted,
// and timed per data phase (an unbroken run of data frames), which the
// benchmarks read as the tool's transfer time.
#ifndef TCPFLASH_SIM_IMAGE_RECORD_H_
#define TCPFLASH_SIM_IMAGE_RECORD_H_

#include <chrono>
#include <cstdint>
#include <cstdio>

class ImageRecord {
 public:
  // path: the file to write, or null for none. quiet: one summary line per
  // data phase instead of one line per data frame. log: as SimLog's.
  ImageRecord(const char* path, bool quiet, FILE* log);
  ImageRecord(const ImageRecord&) = delete;
  ImageRecord& operator=(const ImageRecord&) = delete;
  ~ImageRecord();

  // Creates (or empties) the file and zeroes the counts: at the start and at
  // every flash-data reset. Returns 0, or -1 when the file cannot be written
  // (nothing is recorded to it then).
  int Restart();

  // Notes the arrival of data frame number occurrence carrying payloadLength
  // image bytes: logged, and timed as part of the current data phase.
  void NoteDataFrame(int occurrence, int payloadLength);

  // Appends data[0,n) to the image (n <= 0 writes nothing).
  void Write(const uint8_t* data, int n);

  // Ends the current data phase (another frame arrived, or the connection
  // ended): logs what the quiet mode held back and the phase's figures.
  void EndPhase();

  // Pushes the file's buffer out (at the close command).
  void Flush();

  long long bytes() const { return bytes_; }
  long long frames() const { return frames_; }
  long long phaseBytes() const { return phaseBytesDone_; }
  double phaseSeconds() const { return phaseSecondsDone_; }

 private:
  const char* path_;
  bool quiet_;
  FILE* log_;
  FILE* file_ = nullptr;
  bool failed_ = false;
  long long bytes_ = 0;
  long long frames_ = 0;
  long long framesUnlogged_ = 0;
  long long phaseFrames_ = 0;
  long long phaseBytes_ = 0;
  std::chrono::steady_clock::time_point phaseFirst_;
  std::chrono::steady_clock::time_point phaseLast_;
  long long phaseBytesDone_ = 0;
  double phaseSecondsDone_ = 0;
  char buffer_[1 << 16];
};

#endif  // TCPFLASH_SIM_IMAGE_RECORD_H_
