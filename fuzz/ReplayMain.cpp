// The entry point of a fuzz target built without libFuzzer: feeds every file named on the
// command line, and every file under every folder named there, to the target once, in
// name order. A broken property aborts the process; the file being replayed is printed
// first so that the failure names it.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace fs = std::filesystem;

namespace {

std::vector<fs::path> inputsOf(const fs::path& argument) {
  std::vector<fs::path> inputs;
  if (fs::is_directory(argument)) {
    for (const auto& entry : fs::recursive_directory_iterator(argument))
      if (entry.is_regular_file()) inputs.push_back(entry.path());
  } else {
    inputs.push_back(argument);
  }
  std::sort(inputs.begin(), inputs.end());
  return inputs;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s FILE-OR-FOLDER...\n", argv[0]);
    return 2;
  }
  int replayed = 0;
  for (int i = 1; i < argc; ++i) {
    if (!fs::exists(argv[i])) {
      std::fprintf(stderr, "%s: no such file or folder\n", argv[i]);
      return 2;
    }
    for (const fs::path& input : inputsOf(argv[i])) {
      std::ifstream file(input, std::ios::binary);
      const std::vector<char> bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
      std::fprintf(stderr, "replaying %s (%zu bytes)\n", input.c_str(), bytes.size());
      LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
      ++replayed;
    }
  }
  std::fprintf(stderr, "%d inputs replayed\n", replayed);
  return replayed > 0 ? 0 : 1;
}
