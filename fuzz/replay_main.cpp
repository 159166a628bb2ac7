// A main for the fuzz targets where libFuzzer is not at hand: runs the target once on
// every file named (directories are read one level deep), so that the test run replays
// seed inputs through every target with any compiler.
#include <dirent.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace {

bool readFile(const std::string &path, std::vector<uint8_t> &bytes)
{
    FILE *file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        return false;
    bytes.clear();
    uint8_t block[65536];
    for (size_t n; (n = std::fread(block, 1, sizeof block, file)) > 0;)
        bytes.insert(bytes.end(), block, block + n);
    std::fclose(file);
    return true;
}

void collect(const std::string &path, std::vector<std::string> &files)
{
    struct stat info;
    if (stat(path.c_str(), &info) != 0)
        return;
    if (!S_ISDIR(info.st_mode)) {
        files.push_back(path);
        return;
    }
    DIR *dir = opendir(path.c_str());
    if (dir == nullptr)
        return;
    while (const dirent *entry = readdir(dir)) {
        if (entry->d_name[0] != '.')
            files.push_back(path + "/" + entry->d_name);
    }
    closedir(dir);
}

}  // namespace

int main(int argc, char **argv)
{
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i)
        collect(argv[i], files);
    std::vector<uint8_t> bytes;
    for (const std::string &file : files) {
        if (!readFile(file, bytes)) {
            std::fprintf(stderr, "cannot read %s\n", file.c_str());
            return 1;
        }
        LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    }
    std::printf("%zu inputs replayed\n", files.size());
    return 0;
}
