// Reads a commented hex fixture from tests/data: '#' starts a comment, bytes are pairs of hex
// digits separated by white space.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace tarvix::testing {

inline std::vector<std::uint8_t> readHexFixture(const std::string& relativePath) {
  const char* root = std::getenv("TARVIX_TEST_DATA");
  std::ifstream file(std::string(root ? root : "tests/data") + "/" + relativePath);
  std::vector<std::uint8_t> bytes;
  std::string line;
  while (std::getline(file, line)) {
    std::istringstream words(line.substr(0, line.find('#')));
    std::string word;
    while (words >> word)
      bytes.push_back(static_cast<std::uint8_t>(std::stoul(word, nullptr, 16)));
  }
  return bytes;
}

} // namespace tarvix::testing
