// The system's side of the Windows tests, in a file of its own:
// <windows.h> defines NOPARITY and the like as macros, which clash with the
// port's own names.
#include "tests/serial/WinTestSystem.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace pell::test {

namespace {

bool setValue(const std::string& subKey, const std::string& name, DWORD type, const void* data,
              DWORD size)
{
    HKEY key = nullptr;
    if (::RegCreateKeyExA(HKEY_CURRENT_USER, subKey.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                          &key, nullptr) != ERROR_SUCCESS)
        return false;
    const bool done = ::RegSetValueExA(key, name.c_str(), 0, type, static_cast<const BYTE*>(data),
                                       size) == ERROR_SUCCESS;
    ::RegCloseKey(key);
    return done;
}

} // namespace

bool SetUserRegistryString(const std::string& subKey, const std::string& name, const std::string& data)
{
    return setValue(subKey, name, REG_SZ, data.c_str(), DWORD(data.size() + 1));
}

bool SetUserRegistryNumber(const std::string& subKey, const std::string& name, unsigned long value)
{
    const DWORD v = value;
    return setValue(subKey, name, REG_DWORD, &v, sizeof v);
}

void DeleteUserRegistryTree(const std::string& subKey)
{
    ::RegDeleteTreeA(HKEY_CURRENT_USER, subKey.c_str());
}

bool RunningUnderWine()
{
    HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    return ntdll && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

} // namespace pell::test
