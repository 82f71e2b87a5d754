#pragma once
// What only the Win32 serial backend offers beyond the common interface.
// Deliberately free of <windows.h>: its parity and stop-bit macros would
// clash with the port's own names.
#include "serial/SerialBackend.h"

namespace pell {

// The line settings the driver holds now for the port open on `backend`
// (GetCommState), and whether its parity check (fParity) is on. False when
// `backend` is not a Win32 backend with an open port, or the driver refuses.
bool WinDriverLineSettings(SerialBackend& backend, LineSettings& settings, bool& parityCheck);

} // namespace pell
