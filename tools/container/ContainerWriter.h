#pragma once
// Writes the store's container format: the items laid out one after the
// other behind their count, then the 5-byte header and the payload, coded
// with LZHUF unless asked not to.

#include <cstdint>
#include <string>
#include <vector>

struct TContainerItem {
    uint8_t Kind = 1;
    std::string Name;
    std::vector<uint8_t> Data;
};

std::vector<uint8_t> BuildPayload(const std::vector<TContainerItem>& Items);
std::vector<uint8_t> BuildContainer(const std::vector<uint8_t>& Payload, bool Packed);
