#pragma once
// The download log's lines as the tests expect them.
#include <string>

namespace pell::test {

inline const std::string kBegin = "begin download  now \r\n";
inline const std::string kSuccess = "download success ok\r\n";
inline std::string Ok(int n) { return "download " + std::to_string(n) + " block ok\r\n"; }
inline std::string Error(int n) { return "download " + std::to_string(n) + " block error\r\n"; }
inline std::string Timeout(int n) { return "download " + std::to_string(n) + " block timeout error\r\n"; }

} // namespace pell::test
