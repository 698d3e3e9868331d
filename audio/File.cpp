#include "audio/File.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace tonaro {

bool CFile::ReadAll(std::vector<uint8_t>& out, uint64_t maxBytes) {
    const uint64_t length = Length();
    if (length > maxBytes || length > std::numeric_limits<size_t>::max() || !Seek(0)) return false;
    out.resize(size_t(length));
    return Read(out.data(), out.size()) == out.size();
}

std::unique_ptr<CDiskFile> CDiskFile::Open(const std::string& path, Mode mode) {
    std::FILE* file = std::fopen(path.c_str(), mode == Mode::Read ? "rb" : "wb");
    if (!file) return nullptr;
    return std::unique_ptr<CDiskFile>(new CDiskFile(file));
}

CDiskFile::~CDiskFile() { Close(); }

bool CDiskFile::Write(const void* data, size_t size) {
    if (!file_ || failed_) return false;
    if (size && std::fwrite(data, 1, size, file_) != size) failed_ = true;
    return !failed_;
}

size_t CDiskFile::Read(void* data, size_t size) { return file_ ? std::fread(data, 1, size, file_) : 0; }

bool CDiskFile::Seek(uint64_t position) {
    if (!file_ || position > uint64_t(std::numeric_limits<long>::max()) ||
        std::fseek(file_, long(position), SEEK_SET) != 0) {
        failed_ = true;
        return false;
    }
    return true;
}

uint64_t CDiskFile::Position() const {
    const long position = file_ ? std::ftell(file_) : -1;
    return position < 0 ? 0 : uint64_t(position);
}

uint64_t CDiskFile::Length() const {
    if (!file_) return 0;
    const long here = std::ftell(file_);
    if (here < 0 || std::fseek(file_, 0, SEEK_END) != 0) return 0;
    const long end = std::ftell(file_);
    std::fseek(file_, here, SEEK_SET);
    return end < 0 ? 0 : uint64_t(end);
}

bool CDiskFile::Flush() {
    if (!file_) return false;
    if (std::fflush(file_) != 0) failed_ = true;
    return !failed_;
}

bool CDiskFile::Close() {
    if (!file_) return !failed_;
    if (std::fclose(file_) != 0) failed_ = true;
    file_ = nullptr;
    return !failed_;
}

bool CMemoryFile::Write(const void* data, size_t size) {
    if (failed_) return false;
    const uint64_t end = position_ + size;
    if (end > failAfter_) {
        failed_ = true;
        return false;
    }
    if (end > bytes_.size()) bytes_.resize(size_t(end));
    if (size) std::memcpy(bytes_.data() + position_, data, size);
    position_ = end;
    return true;
}

size_t CMemoryFile::Read(void* data, size_t size) {
    if (position_ >= bytes_.size()) return 0;
    const size_t count = size_t(std::min<uint64_t>(size, bytes_.size() - position_));
    std::memcpy(data, bytes_.data() + position_, count);
    position_ += count;
    return count;
}

bool CMemoryFile::Seek(uint64_t position) {
    position_ = position;
    return true;
}

}  // namespace tonaro
