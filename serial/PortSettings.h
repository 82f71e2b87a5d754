#pragma once
// How the main window's five combo texts become line settings.
#include <string>

namespace pell {

// The leading decimal digits of the text ("115200" → 115200); 0 when the
// text does not start with a digit.
unsigned long LeadingNumber(const std::string& text);
// "1.5" → one and a half (1), "2" → two (2), any other text → one (0).
int StopBitsFromText(const std::string& text);
// "Odd" → 1, "Even" → 2, "Mark" → 3, "Space" → 4, any other text → none (0).
int ParityFromText(const std::string& text);

} // namespace pell
