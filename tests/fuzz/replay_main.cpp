// The fuzz target's main where libFuzzer is not linked: runs the target once on each
// input named on the command line (a folder stands for every file in it, in name
// order), so the corpus runs as an ordinary test with any compiler. A broken
// invariant aborts inside the target, as it would under libFuzzer.
//   fuzz-merge-replay FILE|FOLDER...
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

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

namespace fs = std::filesystem;

// The inputs an argument names; false when it names nothing that can be read.
bool CollectInputs(const fs::path& argument, std::vector<fs::path>& inputs) {
  std::error_code error;
  if (fs::is_directory(argument, error)) {
    std::vector<fs::path> inFolder;
    for (const fs::directory_entry& entry : fs::directory_iterator(argument, error)) {
      if (entry.is_regular_file(error)) inFolder.push_back(entry.path());
    }
    if (error) return false;
    std::sort(inFolder.begin(), inFolder.end());
    inputs.insert(inputs.end(), inFolder.begin(), inFolder.end());
    return true;
  }
  if (!fs::is_regular_file(argument, error)) return false;
  inputs.push_back(argument);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs("usage: fuzz-merge-replay FILE|FOLDER...\n", stderr);
    return 2;
  }
  std::vector<fs::path> inputs;
  for (int i = 1; i < argc; ++i) {
    if (!CollectInputs(argv[i], inputs)) {
      std::fprintf(stderr, "fuzz-merge-replay: %s is neither a readable file nor a folder\n",
                   argv[i]);
      return 1;
    }
  }
  if (inputs.empty()) {
    std::fputs("fuzz-merge-replay: no input to replay\n", stderr);
    return 1;
  }
  for (const fs::path& input : inputs) {
    std::ifstream in(input, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
      std::fprintf(stderr, "fuzz-merge-replay: cannot read %s\n", input.c_str());
      return 1;
    }
    std::printf("%s\n", input.filename().c_str());
    std::fflush(stdout);  // the last name printed is the input that aborted, if one does
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  }
  std::printf("replayed %zu inputs\n", inputs.size());
  return 0;
}
