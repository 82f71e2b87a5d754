#pragma once
// What the Windows tests need of the system: values under HKEY_CURRENT_USER
// for tests that read the registry, and whether they run under Wine.
#include <string>

namespace pell::test {

bool SetUserRegistryString(const std::string& subKey, const std::string& name, const std::string& data);
bool SetUserRegistryNumber(const std::string& subKey, const std::string& name, unsigned long value);
void DeleteUserRegistryTree(const std::string& subKey);
// True under Wine, whose serial ports are POSIX terminals: it does not keep
// others from opening a port that is open, and a pseudo-terminal keeps no
// parity and knows only the usual rates.
bool RunningUnderWine();

} // namespace pell::test
