#include "base/TemporaryFiles.h"

#include <atomic>
#include <cstring>

namespace {

constexpr size_t SlotCount = 8;
constexpr size_t PathLimit = 4096;

struct TSlot {
    std::atomic<bool> Used{false};
    char Path[PathLimit];
};

TSlot Slots[SlotCount];

} // namespace

bool RegisterTemporaryFile(const std::string& Path) {
    if (Path.empty() || Path.size() >= PathLimit) return false;
    for (TSlot& Slot : Slots) {
        if (Slot.Used.load()) continue;
        std::memcpy(Slot.Path, Path.c_str(), Path.size() + 1);
        // Published only once the path is complete.
        Slot.Used.store(true);
        return true;
    }
    return false;
}

void ForgetTemporaryFile(const std::string& Path) {
    for (TSlot& Slot : Slots)
        if (Slot.Used.load() && Path == Slot.Path) Slot.Used.store(false);
}

void ForEachTemporaryFile(void (*Visit)(const char* Path)) {
    for (TSlot& Slot : Slots)
        if (Slot.Used.load()) Visit(Slot.Path);
}
