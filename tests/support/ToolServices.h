#pragma once
// The services a test hands its window or page: a port of its own, the
// command engine on it (the system's clock unless given) and the clock
// that times the download's waits.
#include "common/Clock.h"
#include "protocol/CommandEngine.h"
#include "serial/CSerial.h"
#include "ui/PageServices.h"

namespace pell::test {

struct ToolServices {
    CSerial port;
    CommandEngine engine{port, systemClock()};
    ui::PageServices Page() { return {port, engine, systemClock()}; }
};

} // namespace pell::test
