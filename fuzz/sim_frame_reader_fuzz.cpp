// The simulated boot loader's frame reader on arbitrary line bytes: it never
// holds more than a block, and a frame it calls good has the declared length,
// the right check byte and a proper end byte.
#include "fuzz/FuzzCheck.h"
#include "sim/BlockFrame.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    using pell::sim::BlockFrameReader;
    BlockFrameReader reader;
    for (std::size_t i = 0; i < size; ++i) {
        const BlockFrameReader::Verdict verdict = reader.Feed(data[i]);
        FUZZ_CHECK(reader.data().size() <= pell::sim::kBlockMax);
        switch (verdict) {
        case BlockFrameReader::Verdict::Good: {
            FUZZ_CHECK(!reader.data().empty());
            FUZZ_CHECK(reader.data().size() == reader.declaredLength());
            uint8_t sum = 0;
            for (uint8_t b : reader.data())
                sum ^= b;
            FUZZ_CHECK(i >= 1 && data[i - 1] == sum);
            FUZZ_CHECK(reader.endByte() == pell::sim::kFrameLast ||
                       reader.endByte() == pell::sim::kFrameMore);
            FUZZ_CHECK(reader.endByte() == data[i]);
            FUZZ_CHECK(reader.problem().empty());
            break;
        }
        case BlockFrameReader::Verdict::Bad:
        case BlockFrameReader::Verdict::Refused:
            FUZZ_CHECK(!reader.problem().empty());
            break;
        case BlockFrameReader::Verdict::None:
            break;
        }
        if (i % 997 == 996)
            reader.Reset();
    }
    return 0;
}
