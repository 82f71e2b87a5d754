#pragma once
// What the main window hands its pages: the port the tool talks to the
// controller on, the command engine on that port and the clock that times
// the download's waits. The application creates them; a test hands in its
// own.
namespace pell {
class Clock;
class CSerial;
class CommandEngine;
} // namespace pell

namespace pell::ui {

struct PageServices {
    CSerial& port;
    CommandEngine& engine;
    const Clock& clock;
};

} // namespace pell::ui
