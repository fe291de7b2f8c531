// Build tools make the containers, so they carry none themselves.
#include "platform/EmbeddedResources.h"

const TEmbeddedResource EmbeddedResources[] = {{"", "", nullptr, nullptr}};
const size_t EmbeddedResourceCount = 0;
