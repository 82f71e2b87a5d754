#pragma once
// What the configuration tests against the simulated controller share.
#include "protocol/CommandTable.h"
#include "sim/Simulator.h"

namespace pell::test {

// A controller that enters configuration mode quickly and restarts at once.
inline sim::Options ConfigDeviceOptions()
{
    sim::Options o;
    o.loaderWindowMs = 100;
    o.configWindowMs = 3000;
    o.restartDelayMs = 10;
    return o;
}

} // namespace pell::test
