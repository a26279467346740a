// A whole file as bytes (empty when it cannot be read).
#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace twtest {

inline std::string Slurp(const std::filesystem::path& path) {
  std::ostringstream s;
  s << std::ifstream(path, std::ios::binary).rdbuf();
  return s.str();
}

}  // namespace twtest
