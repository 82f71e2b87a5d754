// Firmware block frames both ways: an arbitrary image is cut into frames as
// the download sends them, and the boot loader's frame reader (the
// simulator's) must take every frame whole and correct, with the image's
// bytes in order and the last frame marked last. Arbitrary offsets never
// build a frame past the image.
#include "download/DownloadFrame.h"
#include "fuzz/FuzzCheck.h"
#include "sim/BlockFrame.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    FuzzedDataProvider in(data, size);
    // The image: the input's bytes, optionally repeated up to a few blocks
    // so that full 4096-byte blocks and the last short one both occur.
    const int repeat = in.ConsumeIntegralInRange<int>(1, 64);
    const uint32_t probe = in.ConsumeIntegral<uint32_t>();
    std::vector<uint8_t> bytes = in.ConsumeRemainingBytes<uint8_t>();
    std::vector<uint8_t> image;
    for (int i = 0; i < repeat && image.size() < 5 * static_cast<std::size_t>(pell::kBlockSize); ++i)
        image.insert(image.end(), bytes.begin(), bytes.end());
    const uint32_t length = static_cast<uint32_t>(image.size());

    std::vector<uint8_t> frame(pell::kFrameCapacity);
    pell::sim::BlockFrameReader reader;
    std::vector<uint8_t> received;
    int frames = 0;
    bool sawLast = false;
    for (uint32_t offset = 0; offset < length; offset += pell::kBlockSize) {
        const int n = pell::BuildBlockFrame(image.data(), length, offset, frame.data());
        FUZZ_CHECK(n > pell::kFrameOverhead && n <= pell::kFrameCapacity);
        const pell::BlockSpan span = pell::BlockAt(length, offset);
        FUZZ_CHECK(n == span.length + pell::kFrameOverhead);
        ++frames;
        for (int i = 0; i < n; ++i) {
            const auto verdict = reader.Feed(frame[static_cast<std::size_t>(i)]);
            if (i + 1 < n) {
                FUZZ_CHECK(verdict == pell::sim::BlockFrameReader::Verdict::None);
                continue;
            }
            FUZZ_CHECK(verdict == pell::sim::BlockFrameReader::Verdict::Good);
        }
        FUZZ_CHECK(reader.data().size() == static_cast<std::size_t>(span.length));
        FUZZ_CHECK(reader.last() == span.last);
        FUZZ_CHECK(!sawLast);
        sawLast = span.last;
        received.insert(received.end(), reader.data().begin(), reader.data().end());
    }
    FUZZ_CHECK(received == image);
    FUZZ_CHECK(frames == pell::BlockCount(length));
    FUZZ_CHECK(sawLast == (length > 0));

    // Any offset: a frame only for an offset inside the image, never longer
    // than a block.
    const uint32_t offset = length == 0 ? probe : probe % (length + pell::kBlockSize);
    const int n = pell::BuildBlockFrame(image.data(), length, offset, frame.data());
    if (offset >= length) {
        FUZZ_CHECK(n == 0);
    } else {
        FUZZ_CHECK(n > pell::kFrameOverhead && n <= pell::kFrameCapacity);
        FUZZ_CHECK(std::memcmp(frame.data() + 3, image.data() + offset,
                               static_cast<std::size_t>(n - pell::kFrameOverhead)) == 0);
    }
    return 0;
}
