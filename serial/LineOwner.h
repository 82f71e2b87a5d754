#pragma once
// Who holds the conversation with the controller. One conversation at a
// time: the download page while its download is active, else the
// configuration page while it waits for configuration mode or runs a job,
// else the debug terminal while it receives. The receive dispatch hands
// every chunk to the holder; the pages ask before they start a conversation.
//
// The consumers may be set or cleared at any time and from any thread; a
// null consumer holds nothing.
#include <atomic>

namespace pell {

class IDownloadReceiver {
public:
    virtual ~IDownloadReceiver() = default;
    virtual bool IsDownloadActive() const = 0;
    // One conversation at a time: true from the moment a start of a
    // download is under way until the download ends.
    virtual bool HoldsLine() const { return IsDownloadActive(); }
    // Every chunk while active, also empty ones (length 0).
    virtual void OnPortData(int length, const char* bytes) = 0;
};

class IConfigReceiver {
public:
    virtual ~IConfigReceiver() = default;
    // Waiting for configuration mode or running a job.
    virtual bool HoldsConversation() const = 0;
    // Every chunk while it holds the conversation, also empty ones.
    virtual void OnPortData(int length, const char* bytes) = 0;
};

class ITerminalReceiver {
public:
    virtual ~ITerminalReceiver() = default;
    virtual bool IsReceiving() const = 0;
    // Non-empty chunks only; followed by NotifyReceiveUpdate().
    virtual void OnTerminalData(int length, const char* bytes) = 0;
    // Asks the terminal to refresh its display on its own thread; must not wait.
    virtual void NotifyReceiveUpdate() = 0;
};

enum class LineHolder {
    Nobody,
    Download,      // a download is active
    Configuration, // waiting for configuration mode, or a job runs
    Terminal,      // the debug terminal receives
};

class LineOwner {
public:
    void SetDownload(IDownloadReceiver* r) { download_.store(r); }
    void SetConfig(IConfigReceiver* r) { config_.store(r); }
    void SetTerminal(ITerminalReceiver* r) { terminal_.store(r); }
    IDownloadReceiver* Download() const { return download_.load(); }
    IConfigReceiver* Config() const { return config_.load(); }
    ITerminalReceiver* Terminal() const { return terminal_.load(); }

    // Who holds the line now, with the consumer that holds it (each
    // consumer read once, so a consumer cleared meanwhile is never called).
    struct Holding {
        LineHolder holder = LineHolder::Nobody;
        IDownloadReceiver* download = nullptr;
        IConfigReceiver* config = nullptr;
        ITerminalReceiver* terminal = nullptr;
    };
    Holding Current() const;
    LineHolder Holder() const { return Current().holder; }
    // Whether one of them holds the line: the download page from the start
    // of a download under way, the configuration page while it waits or runs
    // a job, the terminal while it receives.
    bool Holds(LineHolder who) const;
    // Whether the download or the configuration page holds the line, other
    // than `asker`: a page does not start a conversation meanwhile, and the
    // terminal (which holds no conversation) sends nothing.
    bool HeldByOther(LineHolder asker) const;
    // Hands one received chunk to the holder: the download or the
    // configuration page every chunk, also empty ones; the terminal
    // non-empty chunks, each followed by its display update. False when
    // nobody holds the line (the chunk is dropped).
    bool Deliver(int length, const char* bytes) const;
    // Whether the holder takes empty chunks (the download page and the
    // configuration page do, every poll period).
    static bool WantsEmptyChunks(LineHolder holder)
    {
        return holder == LineHolder::Download || holder == LineHolder::Configuration;
    }

private:
    bool downloadHolds() const; // a download is under way or starting
    bool configHolds() const;

    std::atomic<IDownloadReceiver*> download_{nullptr};
    std::atomic<IConfigReceiver*> config_{nullptr};
    std::atomic<ITerminalReceiver*> terminal_{nullptr};
};

} // namespace pell
