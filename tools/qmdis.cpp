// qmdis file.qmb: loads a chunk with the player's loader and prints its listing, or the
// loader's error code and name ("error 1198 ERR_UNEXPECTEDEOF") with exit status 1.
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "tools/listing.h"

int main(int argc, char **argv) {
  if (argc != 2) {
    std::cerr << "usage: qmdis file.qmb\n";
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  if (!in) {
    std::cerr << "qmdis: cannot read " << argv[1] << "\n";
    return 2;
  }
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  qmtools::ChunkListing listing = qmtools::ListChunk(bytes.data(), bytes.size(), argv[1]);
  if (listing.error != 0) {
    std::cout << listing.text << "\n";
    return 1;
  }
  std::cout << listing.text;
  return 0;
}
