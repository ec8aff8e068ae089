// Shared helpers for the codec tests: the vectors on disk and deterministic generated data.
#pragma once
#include <cstdint>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

inline std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

struct DclVector {
  std::string name;
  unsigned mode = 0;  // CMP_BINARY or CMP_ASCII
  unsigned dict = 0;
  size_t referenceSize = 0;  // the imploded file's size
  std::string origin;        // "encoder": the format's reference encoder made it
};

inline std::vector<DclVector> ReadDclManifest() {
  std::ifstream in(std::string(DCL_TESTDATA_DIR) + "/MANIFEST.tsv");
  std::vector<DclVector> vectors;
  std::string line;
  std::getline(in, line);  // column names
  while (std::getline(in, line)) {
    std::istringstream row(line);
    DclVector v;
    std::string mode;
    std::getline(row, v.name, '\t');
    std::getline(row, mode, '\t');
    std::string sha;
    size_t plainSize = 0;
    row >> v.dict >> plainSize >> v.referenceSize >> sha >> v.origin;
    v.mode = mode == "ascii" ? 1 : 0;
    if (!v.name.empty()) vectors.push_back(v);
  }
  return vectors;
}

inline std::string DclPath(const DclVector& v, const char* ext) {
  return std::string(DCL_TESTDATA_DIR) + "/" + v.name + ext;
}

// xorshift32: the same bytes on every machine.
inline std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed) {
  std::vector<uint8_t> out(n);
  for (auto& b : out) {
    seed ^= seed << 13;
    seed ^= seed >> 17;
    seed ^= seed << 5;
    b = static_cast<uint8_t>(seed);
  }
  return out;
}
