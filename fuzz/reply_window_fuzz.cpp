// The download page's reply window on arbitrary boot-loader output in
// arbitrary chunks: after every chunk its text equals a plain model of the
// window (append; on overflow keep the last 100 characters in front of the
// chunk, or the chunk's own last 4096 bytes), and the word searches the
// download relies on agree with a search of that text.
#include "download/ReplyWindow.h"
#include "fuzz/FuzzCheck.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>

namespace {

struct WindowModel {
    std::string text;

    void append(std::string chunk)
    {
        if (chunk.empty())
            return;
        std::replace(chunk.begin(), chunk.end(), '\0', ' ');
        const std::size_t cap = pell::ReplyWindow::kCapacity;
        if (text.size() + chunk.size() <= cap) {
            text += chunk;
            return;
        }
        const std::size_t take = std::min(chunk.size(), cap);
        const std::size_t keep =
            std::min({text.size(), static_cast<std::size_t>(pell::ReplyWindow::kCarryOver), cap - take});
        text = text.substr(text.size() - keep) + chunk.substr(chunk.size() - take);
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    FuzzedDataProvider in(data, size);
    auto window = std::make_unique<pell::ReplyWindow>();
    WindowModel model;
    const char* words[] = {"boot update", "err_", "P", ""};

    while (in.remaining_bytes() > 0) {
        const uint8_t op = in.ConsumeIntegral<uint8_t>();
        std::string chunk;
        if (op < 200) {
            chunk = in.ConsumeBytesAsString(op % 64);
        } else if (op < 230) {
            std::string piece = in.ConsumeBytesAsString(1 + op % 12);
            const int times = in.ConsumeIntegralInRange<int>(1, 1000);
            for (int i = 0; i < times && chunk.size() < 10000; ++i)
                chunk += piece;
        } else if (op < 250) {
            const std::size_t length = in.ConsumeIntegralInRange<std::size_t>(1, 9000);
            chunk.assign(length, static_cast<char>(in.ConsumeIntegral<uint8_t>()));
        } else {
            window->Clear();
            model.text.clear();
            FUZZ_CHECK(window->Fill() == 0);
            continue;
        }
        window->Append(chunk.data(), static_cast<int>(chunk.size()));
        model.append(chunk);

        FUZZ_CHECK(window->Fill() >= 0 && window->Fill() <= pell::ReplyWindow::kCapacity);
        FUZZ_CHECK(window->Text() == model.text);
        // The window's text stays one zero-terminated string.
        FUZZ_CHECK(window->Text().data()[window->Fill()] == '\0');
        for (const char* word : words)
            FUZZ_CHECK(window->Contains(word) == (model.text.find(word) != std::string::npos));
    }
    return 0;
}
