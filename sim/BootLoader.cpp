#include "sim/BootLoader.h"

#include <algorithm>

namespace pell::sim {

namespace {

using std::chrono::milliseconds;

constexpr const char* kBootUpdateText = "\r\nboot update, waiting for P\r\n";
constexpr const char* kLoaderErrorText = "err_handshake\r\n";

constexpr int kFrameIdleMs = 1000;  // a frame that stops half-way is dropped after this
constexpr int kDiscardIdleMs = 100; // after a refused frame, the rest is dropped until the line rests
constexpr std::size_t kImageMax = 1048576;

} // namespace

BootLoader::BootLoader(DeviceShared& shared, SimLine& line, DeviceHost& host)
    : shared_(shared), line_(line), host_(host)
{
}

void BootLoader::Reset()
{
    frame_.Reset();
    discarding_ = false;
    discardingNow_ = false;
}

// The loader's 'P' gets the line noise of the faults like any reply; the
// one-byte block answers go out clean.
void BootLoader::answer(uint8_t b)
{
    line_.Emit(std::string(1, static_cast<char>(b)), b == 'P' ? SimLine::Out::Reply : SimLine::Out::BlockAnswer);
}

void BootLoader::handshakeP()
{
    bool error = false;
    {
        std::lock_guard<std::mutex> lock(shared_.m);
        ++stats_.loaderRequests;
        if (shared_.faults.loaderErrors > 0) {
            --shared_.faults.loaderErrors;
            ++stats_.errorReplies;
            error = true;
        } else {
            ++stats_.loaderReplies;
        }
    }
    if (error) {
        // The loader stays in its handshake; a listening window starts over.
        if (host_.CurrentMode() == Mode::LoaderWindow)
            host_.RestartLoaderWindow();
        shared_.Tell("handshake answered with an error");
        line_.Emit(kLoaderErrorText, SimLine::Out::Reply);
        return;
    }
    host_.EndWindow();
    host_.SetMode(Mode::LoaderReady);
    shared_.Tell("boot loader ready, waiting for 0x06");
    answer('P');
}

void BootLoader::HandshakeByte(uint8_t b)
{
    const Mode now = host_.CurrentMode();
    if (b == 'B' && (now == Mode::LoaderWindow || now == Mode::BootUpdate)) {
        host_.EndWindow();
        host_.SetMode(Mode::BootUpdate);
        {
            std::lock_guard<std::mutex> lock(shared_.m);
            ++stats_.bootRequests;
            ++stats_.bootUpdateReplies;
        }
        shared_.Tell("boot update requested");
        line_.Emit(kBootUpdateText, SimLine::Out::Reply);
        return;
    }
    if (b == 'P') {
        handshakeP();
        return;
    }
    if (b == kTransferStart && now == Mode::LoaderReady) {
        startTransfer();
        return;
    }
    if (b == 'S') {
        if (now == Mode::LoaderWindow)
            host_.StartApplication(true); // the tool is waiting for the configure program
        else if (host_.AutoPower())
            host_.RestartWith(b);
    }
}

void BootLoader::startTransfer()
{
    {
        std::lock_guard<std::mutex> lock(shared_.m);
        ++stats_.startRequests;
        ++stats_.transfersStarted;
        image_.clear();
        imageComplete_ = false;
        blocks_.clear();
    }
    blockNumber_ = 0;
    Reset();
    host_.SetMode(Mode::Transfer);
    shared_.Tell("transfer started");
}

void BootLoader::recordBlock(const BlockRecord& r)
{
    std::lock_guard<std::mutex> lock(shared_.m);
    blocks_.push_back(r);
}

void BootLoader::TransferByte(uint8_t b)
{
    if (discarding_)
        return;
    if (!frame_.InFrame()) {
        // Between frames the tool may start its handshake over.
        if (b == 'P') {
            handshakeP();
            return;
        }
        if (b == 'S' && host_.AutoPower()) {
            host_.RestartWith(b);
            return;
        }
    }
    BlockFrameReader::Verdict v = frame_.Feed(b);
    if (v == BlockFrameReader::Verdict::None)
        return;
    BlockRecord r;
    r.declaredLength = frame_.declaredLength();
    r.dataLength = frame_.data().size();
    r.endByte = frame_.endByte();
    r.problem = frame_.problem();
    if (v == BlockFrameReader::Verdict::Refused) {
        // No frame can follow from here: drop the rest until the line rests.
        r.number = r.declaredLength > 0 || r.problem.rfind("length", 0) == 0 ? ++blockNumber_ : 0;
        r.answer = kBlockRejected;
        discarding_ = true;
        discardingNow_ = true;
        recordBlock(r);
        shared_.Tell("frame refused: " + r.problem);
        answer(kBlockRejected);
        return;
    }
    r.number = ++blockNumber_;
    if (v == BlockFrameReader::Verdict::Bad) {
        r.answer = kBlockRejected;
        recordBlock(r);
        shared_.Tell("block " + std::to_string(r.number) + " rejected: " + r.problem);
        answer(kBlockRejected);
        return;
    }
    bool reject = false, drop = false, complete = false, tooLarge = false;
    {
        std::lock_guard<std::mutex> lock(shared_.m);
        Faults& faults = shared_.faults;
        if (faults.rejectBlock == r.number) {
            faults.rejectBlock = 0;
            reject = true;
        } else if (image_.size() + frame_.data().size() > kImageMax) {
            tooLarge = true;
        } else {
            if (faults.dropAckBlock == r.number) {
                faults.dropAckBlock = 0;
                drop = true;
            }
            image_.insert(image_.end(), frame_.data().begin(), frame_.data().end());
            if (frame_.last()) {
                imageComplete_ = true;
                ++stats_.transfersCompleted;
                complete = true;
            }
        }
    }
    if (reject || tooLarge) {
        r.answer = kBlockRejected;
        r.problem = reject ? "rejected by fault" : "image too large";
        recordBlock(r);
        shared_.Tell("block " + std::to_string(r.number) + " " + r.problem);
        answer(kBlockRejected);
        return;
    }
    if (drop) {
        r.answer = 0;
        r.problem = "answer dropped by fault";
        recordBlock(r);
        shared_.Tell("block " + std::to_string(r.number) + " taken, answer dropped");
        return;
    }
    r.answer = kBlockAccepted;
    recordBlock(r);
    shared_.Tell("block " + std::to_string(r.number) + ": " + std::to_string(r.dataLength) +
                 " bytes accepted" + (complete ? ", image complete" : ""));
    answer(kBlockAccepted);
    if (complete)
        host_.RestartSoon(); // the new firmware starts once the loader has said so
}

bool BootLoader::frameOpen() const { return host_.CurrentMode() == Mode::Transfer && frame_.InFrame(); }

void BootLoader::OnTimers(TimePoint now, TimePoint lastInput)
{
    if (frameOpen() && now - lastInput >= milliseconds(kFrameIdleMs)) {
        BlockRecord r;
        r.number = ++blockNumber_;
        r.declaredLength = frame_.declaredLength();
        r.dataLength = frame_.data().size();
        r.problem = "frame cut off";
        recordBlock(r);
        shared_.Tell("block " + std::to_string(r.number) + " cut off, dropped without an answer");
        frame_.Reset();
    }
    if (discarding_ && now - lastInput >= milliseconds(kDiscardIdleMs)) {
        discarding_ = false;
        discardingNow_ = false;
    }
}

TimePoint BootLoader::NextTimer(TimePoint lastInput) const
{
    TimePoint next = TimePoint::max();
    if (frameOpen())
        next = std::min(next, lastInput + milliseconds(kFrameIdleMs));
    if (discarding_)
        next = std::min(next, lastInput + milliseconds(kDiscardIdleMs));
    return next;
}

std::vector<uint8_t> BootLoader::Image() const { return locked(image_); }
bool BootLoader::ImageComplete() const { return locked(imageComplete_); }
std::vector<BlockRecord> BootLoader::Blocks() const { return locked(blocks_); }
LoaderStats BootLoader::Stats() const { return locked(stats_); }

} // namespace pell::sim
