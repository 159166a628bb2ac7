// A main for the fuzz targets where libFuzzer is not at hand: runs the target once on every file named (directories are
// read one level deep), so that the test run replays seed inputs through every target with any compiler.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

int main(int argc, char **argv)
{
    namespace fs = std::filesystem;
    std::vector<fs::path> files;
    std::error_code error;
    for (int i = 1; i < argc; ++i) {
        if (!fs::is_directory(argv[i], error) && fs::exists(argv[i], error))
            files.push_back(argv[i]);
        for (const fs::directory_entry &entry : fs::directory_iterator(argv[i], error)) {
            if (entry.path().filename().string()[0] != '.')
                files.push_back(entry.path());
        }
    }
    for (const fs::path &file : files) {
        std::ifstream in(file, std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "cannot read %s\n", file.c_str());
            return 1;
        }
        const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    }
    std::printf("%zu inputs replayed\n", files.size());
    return 0;
}
