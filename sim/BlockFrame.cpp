#include "sim/BlockFrame.h"

#include <cstdio>

namespace pell::sim {

namespace {
std::string hexByte(uint8_t b)
{
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%02X", b);
    return buf;
}
} // namespace

void BlockFrameReader::Reset()
{
    state_ = State::Start;
    length_ = 0;
    xor_ = check_ = end_ = 0;
    data_.clear();
    problem_.clear();
}

BlockFrameReader::Verdict BlockFrameReader::Feed(uint8_t byte)
{
    switch (state_) {
    case State::Start:
        Reset();
        if (byte != kFrameStart) {
            problem_ = "start byte " + hexByte(byte);
            return Verdict::Refused;
        }
        state_ = State::LengthHigh;
        return Verdict::None;
    case State::LengthHigh:
        length_ = static_cast<std::size_t>(byte) << 8;
        state_ = State::LengthLow;
        return Verdict::None;
    case State::LengthLow:
        length_ |= byte;
        if (length_ == 0 || length_ > kBlockMax) {
            problem_ = "length " + std::to_string(length_);
            state_ = State::Start;
            return Verdict::Refused;
        }
        data_.reserve(length_);
        state_ = State::Data;
        return Verdict::None;
    case State::Data:
        data_.push_back(byte);
        xor_ = static_cast<uint8_t>(xor_ ^ byte);
        if (data_.size() == length_)
            state_ = State::Check;
        return Verdict::None;
    case State::Check:
        check_ = byte;
        state_ = State::End;
        return Verdict::None;
    case State::End:
        end_ = byte;
        state_ = State::Start;
        if (check_ != xor_) {
            problem_ = "checksum " + hexByte(check_) + ", data gives " + hexByte(xor_);
            return Verdict::Bad;
        }
        if (end_ != kFrameMore && end_ != kFrameLast) {
            problem_ = "end byte " + hexByte(end_);
            return Verdict::Bad;
        }
        return Verdict::Good;
    }
    return Verdict::None;
}

std::string MakeBlockFrame(const std::string& data, bool last)
{
    std::string frame;
    frame.reserve(data.size() + 5);
    frame += static_cast<char>(kFrameStart);
    frame += static_cast<char>((data.size() >> 8) & 0xff);
    frame += static_cast<char>(data.size() & 0xff);
    uint8_t x = 0;
    for (char c : data)
        x = static_cast<uint8_t>(x ^ static_cast<uint8_t>(c));
    frame += data;
    frame += static_cast<char>(x);
    frame += static_cast<char>(last ? kFrameLast : kFrameMore);
    return frame;
}

} // namespace pell::sim
