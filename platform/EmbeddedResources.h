#pragma once
// Resources linked into the program on systems without a resource section.
// The build generates the table from the containers it packed.

#include <cstddef>
#include <cstdint>

struct TEmbeddedResource {
    const char* Type;
    const char* Name;
    const uint8_t* Begin;
    const uint8_t* End;
};

extern const TEmbeddedResource EmbeddedResources[];
extern const size_t EmbeddedResourceCount;
