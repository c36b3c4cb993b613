// Runs a harness over stored inputs without libFuzzer, so that every compiler
// (GCC, MinGW) can replay the seed corpora as a plain test.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

bool ReplayFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot read %s\n", path.string().c_str());
    return false;
  }
  const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
  // An allocation of exactly the input's size, as libFuzzer gives, so that a
  // sanitizer sees any read past it.
  std::vector<uint8_t> data(bytes.begin(), bytes.end());
  LLVMFuzzerTestOneInput(data.data(), data.size());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  int replayed = 0;
  bool ok = true;
  for (int a = 1; a < argc; ++a) {
    const std::filesystem::path root(argv[a]);
    std::error_code error;
    if (std::filesystem::is_regular_file(root, error)) {
      ok = ReplayFile(root) && ok;
      ++replayed;
      continue;
    }
    if (!std::filesystem::is_directory(root, error)) {
      std::fprintf(stderr, "no such corpus: %s\n", argv[a]);
      ok = false;
      continue;
    }
    // Sorted, so that a failure shows up at the same input on every run.
    std::vector<std::filesystem::path> files;
    for (std::filesystem::directory_iterator it(root, error), end; !error && it != end;
         it.increment(error)) {
      if (it->is_regular_file(error)) files.push_back(it->path());
    }
    if (error) {
      std::fprintf(stderr, "cannot list %s\n", argv[a]);
      ok = false;
    }
    std::sort(files.begin(), files.end());
    for (const auto& file : files) {
      ok = ReplayFile(file) && ok;
      ++replayed;
    }
  }
  std::printf("replayed %d inputs\n", replayed);
  return ok && replayed > 0 ? 0 : 1;
}
