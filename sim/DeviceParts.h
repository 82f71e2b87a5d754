#pragma once
// What the parts of the simulated device (its line, boot loader,
// configuration dialogue and traffic sources) share, and what they ask of
// the device they run in. The parts run on the device thread; callers
// reach only what stands under DeviceShared::m and the parts' atomics.
#include "sim/Simulator.h"

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>

namespace pell::sim {

using Steady = std::chrono::steady_clock;
using TimePoint = Steady::time_point;

// The lock over everything a caller may read or change while the device
// runs: the faults here, and what each part names as kept under it. One
// lock for all, so that a part that takes a fault and changes its own state
// does both in one step.
struct DeviceShared {
    explicit DeviceShared(const Faults& initial) : faults(initial) {}

    mutable std::mutex m;
    Faults faults;
    Observer observer; // set before Start

    Faults FaultsNow() const
    {
        std::lock_guard<std::mutex> lock(m);
        return faults;
    }

    // Tells the observer what happened (a readable event).
    void Tell(const std::string& text) const
    {
        if (observer)
            observer(Traffic::Event, text);
    }
};

// The device's power and modes, as the boot loader and the configuration
// dialogue move them (on the device thread).
class DeviceHost {
public:
    virtual Mode CurrentMode() const = 0;
    virtual void SetMode(Mode mode) = 0;
    virtual bool AutoPower() const = 0;
    // Powers up again and hands `b` to the device that starts.
    virtual void RestartWith(uint8_t b) = 0;
    // The application starts: in configuration mode, or watching for 'S'.
    virtual void StartApplication(bool configure) = 0;
    // Ends the listening window that runs (boot loader or application).
    virtual void EndWindow() = 0;
    // The boot loader's listening window starts over.
    virtual void RestartLoaderWindow() = 0;
    // The device restarts after Options::restartDelayMs.
    virtual void RestartSoon() = 0;

protected:
    ~DeviceHost() = default;
};

} // namespace pell::sim
