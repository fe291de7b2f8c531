#pragma once
// LZHUF coder for the build: the streams it writes are what the program's
// decoder reads (4-byte decoded size, then the adaptive-Huffman bit stream).
// Matches are found through hash chains over the 4 KB window and chosen with
// one step of lazy evaluation.

#include <cstdint>
#include <span>
#include <vector>

std::vector<uint8_t> LzhufEncode(std::span<const uint8_t> Input);
