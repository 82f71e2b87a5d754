#pragma once
// The loader's answers to a second handshake 'P' that arrive while a block
// waits for its answer: the late 'P' alone (then the block's answer), behind
// line noise, or in front of the block's answer in the same chunk. None of
// them answers the block.
#include <string>
#include <utility>

namespace pell::test {

// {late bytes fed first (may be empty), then the chunk with the block's answer}
inline const std::pair<std::string, std::string> kLateHandshakeCases[] = {
    {"P", "\x05"},
    {"PP", "\x05"},
    {std::string("\0\xff#P", 4), "\x05"},
    {"", "P\x05"},
    {"", "PP\x05"},
};

} // namespace pell::test
