#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace tonaro {

// An owned, zero-filled block of bytes with lock/unlock bracketing: the bytes are reached only
// between Lock and Unlock, so a reader (the preview player) can pin a payload while it plays.
class CByteBlock {
public:
    CByteBlock() = default;
    CByteBlock(const CByteBlock&) = delete;
    CByteBlock& operator=(const CByteBlock&) = delete;
    CByteBlock(CByteBlock&& other) noexcept;
    CByteBlock& operator=(CByteBlock&& other) noexcept;
    ~CByteBlock() = default;

    // Obtains a zero-filled block of `size` bytes (at least one byte is reserved for size 0).
    // Returns an empty block when memory cannot be obtained.
    static CByteBlock Allocate(size_t size);
    // A new block holding a copy of `size` bytes from `data`; empty when memory runs out.
    static CByteBlock CopyOf(const uint8_t* data, size_t size);

    bool IsAllocated() const { return bytes_ != nullptr; }
    size_t Size() const { return size_; }
    int LockCount() const { return locks_; }

    // Read access for copying between items on one thread; null for an empty block.
    const uint8_t* Data() const { return bytes_.get(); }
    // Pins the bytes and returns their address; null for an empty block.
    uint8_t* Lock();
    void Unlock();
    void Free();

    // Test hook: when set, an allocation asks it first and fails when it returns false.
    using AllocationGate = bool (*)(size_t size);
    static void SetAllocationGate(AllocationGate gate);

private:
    std::unique_ptr<uint8_t[]> bytes_;
    size_t size_ = 0;
    int locks_ = 0;
};

// Pins a block for the lifetime of the guard.
class CBlockLock {
public:
    explicit CBlockLock(CByteBlock& block) : block_(block), data_(block.Lock()) {}
    ~CBlockLock() {
        if (data_) block_.Unlock();
    }
    CBlockLock(const CBlockLock&) = delete;
    CBlockLock& operator=(const CBlockLock&) = delete;
    uint8_t* data() const { return data_; }
    explicit operator bool() const { return data_ != nullptr; }

private:
    CByteBlock& block_;
    uint8_t* data_;
};

}  // namespace tonaro
