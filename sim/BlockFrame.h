#pragma once
// The boot loader's view of a block frame: 0x02, length high, length low,
// 1..4096 data bytes, XOR of the data, end byte 0x17 (more follow) or 0x03
// (last block). Bytes go in one at a time; a finished or refused frame comes
// out as one verdict.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace pell::sim {

constexpr uint8_t kFrameStart = 0x02;
constexpr uint8_t kFrameMore = 0x17;
constexpr uint8_t kFrameLast = 0x03;
constexpr uint8_t kBlockAccepted = 0x05;
constexpr uint8_t kBlockRejected = 0x15;
constexpr uint8_t kTransferStart = 0x06;
constexpr std::size_t kBlockMax = 4096;

class BlockFrameReader {
public:
    enum class Verdict {
        None,     // the frame goes on
        Good,     // a whole, correct frame: data(), last()
        Bad,      // a whole frame that fails its checks: problem()
        Refused,  // the frame cannot be one (start byte, length): the rest of it is noise
    };

    Verdict Feed(uint8_t byte);
    // True between the start byte and the end byte.
    bool InFrame() const { return state_ != State::Start; }
    void Reset();

    const std::vector<uint8_t>& data() const { return data_; }
    std::size_t declaredLength() const { return length_; }
    uint8_t endByte() const { return end_; }
    bool last() const { return end_ == kFrameLast; }
    const std::string& problem() const { return problem_; }

private:
    enum class State { Start, LengthHigh, LengthLow, Data, Check, End };
    State state_ = State::Start;
    std::size_t length_ = 0;
    uint8_t xor_ = 0;
    uint8_t check_ = 0;
    uint8_t end_ = 0;
    std::vector<uint8_t> data_;
    std::string problem_;
};

// Builds a frame as the tool sends it (tests and benchmarks).
std::string MakeBlockFrame(const std::string& data, bool last);

} // namespace pell::sim
