#include "synth/VoiceFileLocator.h"

#include <dlfcn.h>

#include <cstdlib>
#include <fstream>
#include <system_error>

namespace mevo {
namespace {

std::optional<std::filesystem::path> libraryFolder()
{
    Dl_info info{};
    if (dladdr(reinterpret_cast<const void*>(&voiceFileFolders), &info) == 0 || info.dli_fname == nullptr) {
        return std::nullopt;
    }
    std::error_code ec;
    const auto path = std::filesystem::canonical(info.dli_fname, ec);
    if (ec) {
        return std::nullopt;
    }
    return path.parent_path();
}

} // namespace

std::vector<std::filesystem::path> voiceFileFolders()
{
    std::vector<std::filesystem::path> folders;
    if (const char* dir = std::getenv("MEVO22K_VOICE_DIR"); dir != nullptr && *dir != '\0') {
        folders.emplace_back(dir);
    }
    if (auto own = libraryFolder()) {
        folders.push_back(std::move(*own));
    }
    folders.emplace_back("/usr/share/mevo22k");
    return folders;
}

std::optional<std::filesystem::path> locateVoiceFile(std::string_view name,
                                                     std::span<const std::filesystem::path> folders)
{
    for (const auto& folder : folders) {
        auto candidate = folder / name;
        std::error_code ec;
        if (std::filesystem::is_regular_file(candidate, ec)) {
            return candidate;
        }
    }
    return std::nullopt;
}

std::optional<std::vector<std::uint8_t>> readWholeFile(const std::filesystem::path& path, std::size_t maxBytes)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    if (size < 0 || static_cast<std::uintmax_t>(size) > maxBytes) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
    in.seekg(0);
    if (!in.read(reinterpret_cast<char*>(bytes.data()), size)) {
        return std::nullopt;
    }
    return bytes;
}

} // namespace mevo
