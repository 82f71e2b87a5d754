#include "tests/support/EngineRig.h"

namespace pell::test {

void PageStandIn::OnPortData(int length, const char* bytes)
{
    if (state_.load() == 0)
        engine_.AppendReply(length, bytes);
    else
        engine_.OnCommandData(length, bytes);
    received_ += static_cast<std::size_t>(length);
}

bool EngineRig::Attach(const std::string& path, IConfigReceiver* receiver)
{
    if (!port.OpenPort(path, 115200, NOPARITY, 8, ONESTOPBIT))
        return false;
    dispatcher.SetConfigReceiver(receiver != nullptr ? receiver : &page);
    dispatcher.Start();
    return true;
}

void EngineRig::Detach()
{
    dispatcher.Stop();
    port.ClosePort();
}

bool EngineRig::EnterConfiguration(std::chrono::milliseconds patience)
{
    page.SetState(0);
    engine.ResetReply();
    int64_t lastS = 0;
    bool entered = WaitUntil(
        [&] {
            if (monotonicMs() - lastS >= 50) {
                port.Write("S", 1);
                lastS = monotonicMs();
            }
            return engine.ReplyContains("CONFIGURE PROGRAM");
        },
        patience);
    page.SetState(1);
    return entered;
}

void ScriptedController::Start(Script script)
{
    script_ = std::move(script);
    stop_ = false;
    thread_ = std::thread([this] { run(); });
}

void ScriptedController::Stop()
{
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
}

std::vector<std::string> ScriptedController::Lines() const
{
    std::lock_guard<std::mutex> lock(m_);
    return lines_;
}

std::string ScriptedController::Raw() const
{
    std::lock_guard<std::mutex> lock(m_);
    return raw_;
}

void ScriptedController::run()
{
    std::string pending;
    while (!stop_) {
        std::string got = pty_.receive(std::chrono::milliseconds(10));
        if (got.empty())
            continue;
        {
            std::lock_guard<std::mutex> lock(m_);
            raw_ += got;
        }
        pending += got;
        std::size_t end;
        while ((end = pending.find("\r\n")) != std::string::npos) {
            std::string line = pending.substr(0, end + 2);
            pending.erase(0, end + 2);
            {
                std::lock_guard<std::mutex> lock(m_);
                lines_.push_back(line);
            }
            bool first = true;
            for (const std::string& piece : script_(line)) {
                if (!first && taken_ && !WaitUntil([&] { return taken_() >= sent_; }, kPatience))
                    ADD_FAILURE() << "the tool did not take the previous piece";
                first = false;
                pty_.send(piece);
                sent_ += piece.size();
            }
        }
    }
}

} // namespace pell::test
