#include "serial/LineOwner.h"

namespace pell {

bool LineOwner::downloadHolds() const
{
    IDownloadReceiver* d = download_.load();
    return d != nullptr && d->HoldsLine();
}

bool LineOwner::configHolds() const
{
    IConfigReceiver* c = config_.load();
    return c != nullptr && c->HoldsConversation();
}

LineOwner::Holding LineOwner::Current() const
{
    // The chunks go to the download once it is active, not while it starts.
    Holding h;
    if (IDownloadReceiver* d = download_.load(); d != nullptr && d->IsDownloadActive()) {
        h.holder = LineHolder::Download;
        h.download = d;
    } else if (IConfigReceiver* c = config_.load(); c != nullptr && c->HoldsConversation()) {
        h.holder = LineHolder::Configuration;
        h.config = c;
    } else if (ITerminalReceiver* t = terminal_.load(); t != nullptr && t->IsReceiving()) {
        h.holder = LineHolder::Terminal;
        h.terminal = t;
    }
    return h;
}

bool LineOwner::Holds(LineHolder who) const
{
    switch (who) {
    case LineHolder::Download:
        return downloadHolds();
    case LineHolder::Configuration:
        return configHolds();
    case LineHolder::Terminal: {
        ITerminalReceiver* t = terminal_.load();
        return t != nullptr && t->IsReceiving();
    }
    case LineHolder::Nobody:
        break;
    }
    return false;
}

bool LineOwner::HeldByOther(LineHolder asker) const
{
    return (asker != LineHolder::Download && downloadHolds()) ||
           (asker != LineHolder::Configuration && configHolds());
}

bool LineOwner::Deliver(int length, const char* bytes) const
{
    const Holding h = Current();
    switch (h.holder) {
    case LineHolder::Download:
        h.download->OnPortData(length, bytes);
        return true;
    case LineHolder::Configuration:
        h.config->OnPortData(length, bytes);
        return true;
    case LineHolder::Terminal:
        if (length != 0) {
            h.terminal->OnTerminalData(length, bytes);
            h.terminal->NotifyReceiveUpdate();
        }
        return true;
    case LineHolder::Nobody:
        break;
    }
    return false;
}

} // namespace pell
