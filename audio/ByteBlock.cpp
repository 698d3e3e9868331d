#include "audio/ByteBlock.h"

#include <atomic>
#include <cstring>
#include <new>
#include <utility>

namespace tonaro {

namespace {
std::atomic<CByteBlock::AllocationGate> g_gate{nullptr};
}

void CByteBlock::SetAllocationGate(AllocationGate gate) { g_gate.store(gate); }

CByteBlock::CByteBlock(CByteBlock&& other) noexcept
    : bytes_(std::move(other.bytes_)), size_(std::exchange(other.size_, 0)), locks_(std::exchange(other.locks_, 0)) {}

CByteBlock& CByteBlock::operator=(CByteBlock&& other) noexcept {
    if (this != &other) {
        bytes_ = std::move(other.bytes_);
        size_ = std::exchange(other.size_, 0);
        locks_ = std::exchange(other.locks_, 0);
    }
    return *this;
}

CByteBlock CByteBlock::Allocate(size_t size) {
    CByteBlock block;
    if (auto gate = g_gate.load(); gate && !gate(size)) return block;
    block.bytes_.reset(new (std::nothrow) uint8_t[size ? size : 1]());
    if (block.bytes_) block.size_ = size;
    return block;
}

CByteBlock CByteBlock::CopyOf(const uint8_t* data, size_t size) {
    CByteBlock block = Allocate(size);
    if (block.bytes_ && size) std::memcpy(block.bytes_.get(), data, size);
    return block;
}

uint8_t* CByteBlock::Lock() {
    if (!bytes_) return nullptr;
    ++locks_;
    return bytes_.get();
}

void CByteBlock::Unlock() {
    if (locks_ > 0) --locks_;
}

void CByteBlock::Free() {
    bytes_.reset();
    size_ = 0;
    locks_ = 0;
}

}  // namespace tonaro
