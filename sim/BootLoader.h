#pragma once
// The simulated boot loader: the handshake ('B' for a boot-program update,
// 'P', then 0x06), the block frames of a transfer with their answers, and
// the image they carry. The faults of the loader (error handshakes, a
// rejected block, a block without an answer) are taken here.
#include "sim/BlockFrame.h"
#include "sim/DeviceParts.h"
#include "sim/SimLine.h"

#include <atomic>
#include <cstdint>
#include <vector>

namespace pell::sim {

class BootLoader {
public:
    BootLoader(DeviceShared& shared, SimLine& line, DeviceHost& host);

    // A byte while the loader listens, waits for 'P' or waits for 0x06.
    void HandshakeByte(uint8_t b);
    // A byte of a transfer.
    void TransferByte(uint8_t b);
    // The device powers up: no frame half-read, nothing to drop.
    void Reset();

    // A frame that stopped half-way is dropped, and dropping the rest of a
    // refused frame ends, once the line has rested since `lastInput`.
    void OnTimers(TimePoint now, TimePoint lastInput);
    // When OnTimers has something to do next; TimePoint::max() for never.
    TimePoint NextTimer(TimePoint lastInput) const;

    // For callers, at any time.
    std::vector<uint8_t> Image() const;
    bool ImageComplete() const;
    std::vector<BlockRecord> Blocks() const;
    LoaderStats Stats() const;
    bool Discarding() const { return discardingNow_.load(); }

private:
    void handshakeP();
    void startTransfer();
    void recordBlock(const BlockRecord& r);
    void answer(uint8_t b);
    bool frameOpen() const;
    // A copy of what stands under the device's lock.
    template <typename T>
    T locked(const T& value) const
    {
        std::lock_guard<std::mutex> lock(shared_.m);
        return value;
    }

    DeviceShared& shared_;
    SimLine& line_;
    DeviceHost& host_;

    // Under shared_.m.
    std::vector<uint8_t> image_;
    bool imageComplete_ = false;
    std::vector<BlockRecord> blocks_;
    LoaderStats stats_;

    // The device thread's.
    BlockFrameReader frame_;
    int blockNumber_ = 0;
    bool discarding_ = false;
    std::atomic<bool> discardingNow_{false}; // discarding_, for callers
};

} // namespace pell::sim
