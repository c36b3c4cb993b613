#include "driver/image_file.h"

#include <filesystem>
#include <system_error>

FILE* OpenImage(const char* path, long long* size) {
  // Looked at before opening: opening a FIFO would wait for a writer.
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error) || error) return nullptr;
  const auto bytes = std::filesystem::file_size(path, error);
  if (error) return nullptr;
  FILE* image = std::fopen(path, "rb");
  if (image != nullptr) *size = static_cast<long long>(bytes);
  return image;
}
