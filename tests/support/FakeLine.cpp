#include "tests/support/FakeLine.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>

namespace pell::test {

struct FakeLine::Shared {
    std::mutex m;
    std::condition_variable changed;
    IConfigReceiver* receiver = nullptr;
    Script script;
    std::string pending; // received, not yet a whole line
    std::string raw;
    std::vector<std::string> lines;
    std::deque<char> toRead; // answered while no receiver takes them
    bool interrupted = false;
    bool woken = false;

    // The tool wrote: whole lines go to the script, its pieces to the tool.
    void received(const char* bytes, int count)
    {
        std::vector<std::string> pieces;
        IConfigReceiver* to = nullptr;
        {
            std::lock_guard<std::mutex> lock(m);
            raw.append(bytes, static_cast<std::size_t>(count));
            pending.append(bytes, static_cast<std::size_t>(count));
            for (std::size_t end; (end = pending.find("\r\n")) != std::string::npos;) {
                const std::string line = pending.substr(0, end + 2);
                pending.erase(0, end + 2);
                lines.push_back(line);
                if (script)
                    for (std::string& piece : script(line))
                        pieces.push_back(std::move(piece));
            }
            to = receiver;
            if (to == nullptr) {
                for (const std::string& piece : pieces)
                    toRead.insert(toRead.end(), piece.begin(), piece.end());
                changed.notify_all();
                return;
            }
        }
        for (const std::string& piece : pieces)
            to->OnPortData(static_cast<int>(piece.size()), piece.c_str()); // zero-terminated
    }
};

namespace {

class Device : public SerialBackend {
public:
    explicit Device(std::shared_ptr<FakeLine::Shared> shared) : s_(std::move(shared)) {}

    OpenError open(const std::string&, std::string& detail) override
    {
        detail = "fake line";
        return OpenError::None;
    }
    bool prepare() override { return true; }
    bool setLineSettings(const LineSettings&) override { return true; }
    void purge(bool rx, bool) override
    {
        std::lock_guard<std::mutex> lock(s_->m);
        if (rx)
            s_->toRead.clear();
    }
    uint32_t takeLineErrors() override { return 0; }
    int read(char* buffer, int max, int waitMs) override
    {
        std::unique_lock<std::mutex> lock(s_->m);
        const auto ready = [&] { return !s_->toRead.empty() || s_->interrupted || s_->woken; };
        if (waitMs < 0)
            s_->changed.wait(lock, ready);
        else
            s_->changed.wait_for(lock, std::chrono::milliseconds(waitMs), ready);
        s_->interrupted = false;
        int n = 0;
        while (n < max && !s_->toRead.empty()) {
            buffer[n++] = s_->toRead.front();
            s_->toRead.pop_front();
        }
        return n;
    }
    void interruptRead() override
    {
        std::lock_guard<std::mutex> lock(s_->m);
        s_->interrupted = true;
        s_->changed.notify_all();
    }
    int write(const char* bytes, int count, int) override
    {
        s_->received(bytes, count);
        return count;
    }
    bool waitEvents(uint32_t&, uint32_t&) override
    {
        std::unique_lock<std::mutex> lock(s_->m);
        s_->changed.wait(lock, [&] { return s_->woken; });
        return false;
    }
    void wake() override
    {
        std::lock_guard<std::mutex> lock(s_->m);
        s_->woken = true;
        s_->changed.notify_all();
    }
    void interruptEventWait() override { wake(); }
    uint32_t modemStatus() override { return 0; }
    void close() override {}

private:
    std::shared_ptr<FakeLine::Shared> s_;
};

} // namespace

FakeLine::FakeLine()
    : shared_(std::make_shared<Shared>()),
      port_([shared = shared_] {
          {
              std::lock_guard<std::mutex> lock(shared->m);
              shared->woken = false; // a new opening waits anew
          }
          return std::make_unique<Device>(shared);
      })
{
    port_.OpenPort("fake", 115200, 0, 8, 0);
}

FakeLine::~FakeLine()
{
    port_.ClosePort();
}

void FakeLine::DeliverTo(IConfigReceiver* receiver)
{
    std::lock_guard<std::mutex> lock(shared_->m);
    shared_->receiver = receiver;
}

void FakeLine::Start(Script script)
{
    std::lock_guard<std::mutex> lock(shared_->m);
    shared_->script = std::move(script);
}

void FakeLine::Stop()
{
    std::lock_guard<std::mutex> lock(shared_->m);
    shared_->script = nullptr;
}

std::vector<std::string> FakeLine::Lines() const
{
    std::lock_guard<std::mutex> lock(shared_->m);
    return shared_->lines;
}

std::string FakeLine::Raw() const
{
    std::lock_guard<std::mutex> lock(shared_->m);
    return shared_->raw;
}

} // namespace pell::test
