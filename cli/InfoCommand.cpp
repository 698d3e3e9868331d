#include "cli/InfoCommand.h"

#include <fmt/format.h>
#include <fmt/ostream.h>

#include <CLI/CLI.hpp>
#include <ctime>
#include <ostream>
#include <variant>

#include "audio/LegacyCodePage.h"
#include "palm/AudioRow.h"
#include "palm/DatabaseReader.h"

namespace tonaro::cli {

namespace {

// Larger than any database we write, with room for foreign files worth a reason.
constexpr uint64_t kMaxInspectedBytes = 16 * 1024 * 1024;

std::string PalmDate(uint32_t palmSeconds) {
    const std::time_t unixSeconds = std::time_t(int64_t(palmSeconds) - kPalmEpochOffset);
    std::tm utc{};
    if (!gmtime_r(&unixSeconds, &utc)) return std::to_string(palmSeconds);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &utc);
    return text;
}

std::string Text(const FourCC& code) { return std::string(code.begin(), code.end()); }

struct PayloadPrinter {
    std::ostream& out;
    uint32_t size;
    void operator()(const SmfPayloadInfo& smf) const {
        fmt::print(out, "  payload           SMF, {} bytes: format {}, {} track(s), division {}\n", size, smf.format,
                   smf.tracks, smf.division);
    }
    void operator()(const WavePayloadInfo& wave) const {
        fmt::print(out,
                   "  payload           WAVE, {} bytes: format tag 0x{:04X}, {} channel(s), {} Hz, {} bytes/s, "
                   "block align {}, {} bits, {} samples per block, data {} bytes\n",
                   size, wave.formatTag, wave.channels, wave.samplesPerSec, wave.avgBytesPerSec, wave.blockAlign,
                   wave.bitsPerSample, wave.samplesPerBlock, wave.dataSize);
    }
};

void PrintInfo(std::ostream& out, const std::string& path, const SoundDatabaseInfo& info) {
    fmt::print(out, "{}\n", path);
    fmt::print(out, "  database name     {}\n", info.name);
    fmt::print(out, "  type              {}\n", Text(info.type));
    fmt::print(out, "  creator           {}\n", Text(info.creator));
    fmt::print(out, "  attributes        0x{:04X}\n", info.attributes);
    fmt::print(out, "  version           {}\n", info.version);
    fmt::print(out, "  created           {}\n", PalmDate(info.creationDate));
    fmt::print(out, "  modified          {}\n", PalmDate(info.modificationDate));
    fmt::print(out, "  records           {}\n", info.recordCount);
    fmt::print(out, "  record offset     {}\n", info.recordOffset);
    fmt::print(out, "  record attributes 0x{:02X}\n", info.recordAttributes);
    fmt::print(out, "  record code       {}\n", Text(info.recordCode));
    fmt::print(out, "  record name       {}\n", DecodeLegacy(info.recordName, CurrentLegacyCodePage()));
    std::visit(PayloadPrinter{out, info.payloadSize}, info.payload);
}

}  // namespace

int RunInfo(const std::vector<std::string>& paths, std::ostream& out, std::ostream& err) {
    int status = 0;
    for (const std::string& path : paths) {
        auto file = CDiskFile::Open(path, CDiskFile::Mode::Read);
        std::vector<uint8_t> bytes;
        SoundDatabaseInfo info;
        std::string reason;
        if (!file) {
            reason = "cannot be opened";
        } else if (!file->ReadAll(bytes, kMaxInspectedBytes)) {
            reason = "cannot be read, or is larger than any sound database";
        } else {
            ReadSoundDatabase(bytes, info, reason);
        }
        if (!reason.empty()) {
            fmt::print(err, "{}: {}\n", path, reason);
            status = 1;
            continue;
        }
        PrintInfo(out, path, info);
    }
    return status;
}

void AddInfoCommand(CLI::App& app, int& exitStatus) {
    auto* command = app.add_subcommand("info", "Show the header, record and payload of .PDB sound databases");
    auto paths = std::make_shared<std::vector<std::string>>();
    command->add_option("files", *paths, "Database files")->required();
    command->callback([paths, &exitStatus] { exitStatus = RunInfo(*paths, std::cout, std::cerr); });
}

}  // namespace tonaro::cli
