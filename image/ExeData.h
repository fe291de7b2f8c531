#pragma once
// The embedded data store: named items unpacked from a container resource.
//
// Container: 1 byte packed flag, 4 bytes payload length, then the payload
// (flag 0) or its LZHUF coding (any other flag). Payload: item count, then
// per item kind (1 byte), name length and name, data length and data.
// All numbers little-endian.

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "base/Stream.h"

class EStoreError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TExeData {
public:
    uint8_t ItemKind = 0;
    std::string ItemName;
    TMemoryStream ItemData;

    // Reads one item at Source's position and leaves Source after it.
    void LoadItem(TStream& Source);
};

class TExeDataBase {
public:
    std::vector<std::unique_ptr<TExeData>> Items;
    int32_t ItemCount = 0;

    // Reads a whole container from Source's position; raises on a malformed one.
    void LoadContainer(TStream& Source);

    // The item's own stream (rewind before reading), or null.
    TMemoryStream* FindItem(std::string_view Name, uint8_t Kind) const;
};

// The two program-wide stores, loaded once at start-up.
extern std::unique_ptr<TExeDataBase> DiskStore;
extern std::unique_ptr<TExeDataBase> CdStore;

// Load the store from the program's own STREAM resource PURGXDSK or PURGXCD;
// false on any error.
bool LoadDiskStore();
bool LoadCdStore();

// Items whose name begins with "." are floppy images, not files to copy.
inline bool IsImageItem(const TExeData& Item) {
    return !Item.ItemName.empty() && Item.ItemName[0] == '.';
}
