#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace tonaro {

// A binary file as the converters and the database writer see it. A failed write or flush makes
// the file failed for good, so a caller can check once at the end that every byte arrived.
class CFile {
public:
    virtual ~CFile() = default;

    // Writes all `size` bytes or fails; returns false on any error.
    virtual bool Write(const void* data, size_t size) = 0;
    // Reads up to `size` bytes at the current position; returns the count read.
    virtual size_t Read(void* data, size_t size) = 0;
    virtual bool Seek(uint64_t position) = 0;
    virtual uint64_t Position() const = 0;
    virtual uint64_t Length() const = 0;
    // Pushes buffered bytes to their destination; false when that fails.
    virtual bool Flush() = 0;
    // True once any write, seek or flush has failed.
    virtual bool HasFailed() const = 0;

    // Reads the whole file from its beginning into `out`; false when it holds more than `maxBytes`
    // or cannot be read.
    bool ReadAll(std::vector<uint8_t>& out, uint64_t maxBytes);
};

// A file on disk, written through the C library.
class CDiskFile final : public CFile {
public:
    enum class Mode { Read, CreateWrite };
    static std::unique_ptr<CDiskFile> Open(const std::string& path, Mode mode);
    ~CDiskFile() override;

    bool Write(const void* data, size_t size) override;
    size_t Read(void* data, size_t size) override;
    bool Seek(uint64_t position) override;
    uint64_t Position() const override;
    uint64_t Length() const override;
    bool Flush() override;
    bool HasFailed() const override { return failed_; }
    // Flushes and closes; false when a buffered byte could not be written.
    bool Close();

private:
    explicit CDiskFile(std::FILE* file) : file_(file) {}
    std::FILE* file_;
    bool failed_ = false;
};

// A growable file in memory; `failAfter` makes writes fail once that many bytes are held,
// to test how writers cope with a full disk.
class CMemoryFile final : public CFile {
public:
    CMemoryFile() = default;
    explicit CMemoryFile(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}

    bool Write(const void* data, size_t size) override;
    size_t Read(void* data, size_t size) override;
    bool Seek(uint64_t position) override;
    uint64_t Position() const override { return position_; }
    uint64_t Length() const override { return bytes_.size(); }
    bool Flush() override { return !failed_; }
    bool HasFailed() const override { return failed_; }

    const std::vector<uint8_t>& Bytes() const { return bytes_; }
    void FailWritesAfter(size_t byteCount) { failAfter_ = byteCount; }

private:
    std::vector<uint8_t> bytes_;
    uint64_t position_ = 0;
    size_t failAfter_ = SIZE_MAX;
    bool failed_ = false;
};

}  // namespace tonaro
