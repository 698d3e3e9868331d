#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli/ConvertCommand.h"

namespace tonaro {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

const fs::path kSongs = "/usr/share/planetblupi/music";
const char* const kPython = "/usr/bin/python3";  // Debian's modules load only in Debian's interpreter

Bytes Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// All Sound Off on channels 0..15, then End of Track.
Bytes Tail() {
    Bytes tail;
    for (uint8_t channel = 0; channel < 16; ++channel)
        tail.insert(tail.end(), {0x00, uint8_t(0xB0 | channel), 0x78, 0x00});
    tail.insert(tail.end(), {0x00, 0xFF, 0x2F, 0x00});
    return tail;
}

// Every song of the package is a format-1 file longer than a database may be: each becomes a
// database of at most 64000 bytes whose payload a reader of its own finds to be the source's
// events in the designed merge order, cut and closed by the tail.
TEST(ConvertMido, SongsOfThePackageMergeAsAnIndependentReaderExpects) {
    if (!fs::is_directory(kSongs)) GTEST_SKIP() << "planetblupi-music-midi is not installed";
    if (std::system((std::string(kPython) + " -c 'import mido' 2>/dev/null").c_str()) != 0)
        GTEST_SKIP() << "python3-mido is not installed";

    const fs::path out = fs::temp_directory_path() / ("tonaro-mido-" + std::to_string(::getpid()));
    fs::remove_all(out);
    cli::ConvertOptions options;
    for (const auto& entry : fs::directory_iterator(kSongs))
        if (entry.path().extension() == ".mid") options.files.push_back(entry.path().string());
    std::sort(options.files.begin(), options.files.end());
    ASSERT_FALSE(options.files.empty());
    options.outputDir = out.string();
    std::ostringstream report, err;
    ASSERT_EQ(cli::RunConvert(options, report, err), 0) << err.str();

    std::string pairs;
    const Bytes tail = Tail();
    for (const std::string& source : options.files) {
        const fs::path database = out / (fs::path(source).stem().string() + ".PDB");
        const Bytes bytes = Read(database);
        EXPECT_LE(bytes.size(), 64000u) << database;
        EXPECT_GT(fs::file_size(source), 64000u) << source;
        ASSERT_GE(bytes.size(), tail.size());
        EXPECT_TRUE(std::equal(tail.begin(), tail.end(), bytes.end() - long(tail.size()))) << database;
        pairs += " " + source + " " + database.string();
    }
    // One line per song, each cut to fit.
    std::istringstream lines(report.str());
    size_t count = 0;
    for (std::string line; std::getline(lines, line); ++count)
        EXPECT_TRUE(line.ends_with("  shortened")) << line;
    EXPECT_EQ(count, options.files.size());
    const std::string checker = std::string(TONARO_SOURCE_DIR) + "/tests/tools/check_smf_merge.py";
    EXPECT_EQ(std::system((std::string(kPython) + " " + checker + pairs + " >/dev/null").c_str()), 0);
    fs::remove_all(out);
}

}  // namespace
}  // namespace tonaro
