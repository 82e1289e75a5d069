// Runs a fuzz target's entry point once over each input file, without libFuzzer, so that the
// committed corpus replays as a regression test in every build and with any compiler:
//
//   replay_fuzz_item_decoder DIR_OR_FILE...
//
// Directories are read one level deep, their files in name order. Each input is handed over in a
// heap buffer of exactly its size, so that the address sanitizer sees any read past its end. A
// target that finds a fault traps, which ends the run; the line naming the input comes first.
// Exits 0 after replaying at least one input, 1 when there was none or a file could not be read.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace {

namespace fs = std::filesystem;

// The input files named by one argument: the file itself, or a directory's regular files.
std::vector<fs::path> inputs_of(const fs::path &arg, std::error_code &error) {
  std::vector<fs::path> files;
  if (!fs::is_directory(arg, error)) {
    if (!error) files.push_back(arg);
    return files;
  }
  for (const fs::directory_entry &e : fs::directory_iterator(arg, error)) {
    if (e.is_regular_file()) files.push_back(e.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

bool replay(const fs::path &file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return false;
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return false;
  std::printf("%s (%zu bytes)\n", file.c_str(), bytes.size());
  std::fflush(stdout);
  // Exactly the input's size; libFuzzer also hands a non-null pointer for an empty input.
  auto copy = std::make_unique<uint8_t[]>(std::max<size_t>(bytes.size(), 1));
  std::copy(bytes.begin(), bytes.end(), copy.get());
  LLVMFuzzerTestOneInput(copy.get(), bytes.size());
  return true;
}

}  // namespace

int main(int argc, char **argv) {
  size_t replayed = 0;
  for (int i = 1; i < argc; ++i) {
    std::error_code error;
    std::vector<fs::path> files = inputs_of(argv[i], error);
    if (error) {
      std::fprintf(stderr, "cannot read %s: %s\n", argv[i], error.message().c_str());
      return 1;
    }
    for (const fs::path &f : files) {
      if (!replay(f)) {
        std::fprintf(stderr, "cannot read %s\n", f.c_str());
        return 1;
      }
      ++replayed;
    }
  }
  std::printf("replayed %zu inputs\n", replayed);
  if (replayed == 0) std::fprintf(stderr, "no inputs to replay\n");
  return replayed > 0 ? 0 : 1;
}
