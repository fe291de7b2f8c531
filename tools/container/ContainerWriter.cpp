#include "tools/container/ContainerWriter.h"

#include <stdexcept>

#include "base/ByteOrder.h"
#include "tools/lzhuf/LzhufCoder.h"

namespace {

void AppendLE32(std::vector<uint8_t>& Out, uint64_t Value) {
    if (Value > 0xFFFFFFFFu) throw std::length_error("container field over 4 GB");
    uint8_t Bytes[4];
    PutLE32(Bytes, uint32_t(Value));
    Out.insert(Out.end(), Bytes, Bytes + 4);
}

} // namespace

std::vector<uint8_t> BuildPayload(const std::vector<TContainerItem>& Items) {
    std::vector<uint8_t> Out;
    AppendLE32(Out, Items.size());
    for (const TContainerItem& Item : Items) {
        Out.push_back(Item.Kind);
        AppendLE32(Out, Item.Name.size());
        Out.insert(Out.end(), Item.Name.begin(), Item.Name.end());
        AppendLE32(Out, Item.Data.size());
        Out.insert(Out.end(), Item.Data.begin(), Item.Data.end());
    }
    return Out;
}

std::vector<uint8_t> BuildContainer(const std::vector<uint8_t>& Payload, bool Packed) {
    std::vector<uint8_t> Out;
    Out.push_back(Packed ? 1 : 0);
    AppendLE32(Out, Payload.size());
    if (Packed) {
        const std::vector<uint8_t> Coded = LzhufEncode(Payload);
        Out.insert(Out.end(), Coded.begin(), Coded.end());
    } else {
        Out.insert(Out.end(), Payload.begin(), Payload.end());
    }
    return Out;
}
