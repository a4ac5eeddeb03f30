// Runs the package fuzzer's checks over saved inputs, without libFuzzer:
// every file named, and every regular file below every directory named, in
// sorted order. The Windows build replays the seeds and the committed corpus
// this way under Wine, so the Win32 file layer meets them too.
//   package_fuzz_replay PATH...
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

namespace fs = std::filesystem;

std::vector<fs::path> InputsUnder(const fs::path& path) {
  std::vector<fs::path> inputs;
  if (fs::is_directory(path)) {
    for (const auto& item : fs::recursive_directory_iterator(path)) {
      if (item.is_regular_file()) inputs.push_back(item.path());
    }
  } else if (fs::is_regular_file(path)) {
    inputs.push_back(path);
  }
  std::sort(inputs.begin(), inputs.end());
  return inputs;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: package_fuzz_replay PATH...\n");
    return 2;
  }
  std::size_t replayed = 0;
  for (int i = 1; i < argc; ++i) {
    const std::vector<fs::path> inputs = InputsUnder(argv[i]);
    // A path with nothing to replay is a mistake, not a pass.
    if (inputs.empty()) {
      std::fprintf(stderr, "package_fuzz_replay: no inputs in %s\n", argv[i]);
      return 1;
    }
    for (const fs::path& input : inputs) {
      std::ifstream file(input, std::ios::binary);
      const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
      LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
      ++replayed;
    }
  }
  std::printf("package_fuzz_replay: %zu inputs replayed\n", replayed);
  return 0;
}
