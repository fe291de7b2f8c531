// The container loader on arbitrary bytes: a malformed container raises a
// store, stream or LZH error and nothing else; a loaded one holds exactly the
// items its count names, and never more bytes than the input can express.

#include <stdexcept>

#include "FuzzTarget.h"
#include "base/Stream.h"
#include "image/ExeData.h"
#include "image/LZH.h"

PURGEX_FUZZ_TARGET(ContainerFuzz) {
    TReadOnlyStream Source(std::span<const uint8_t>(Data, Size));
    TExeDataBase Store;
    try {
        Store.LoadContainer(Source);
    } catch (const EStoreError&) {
        return 0;
    } catch (const ELZHError&) {
        return 0;
    } catch (const EStreamError&) {
        return 0;
    }
    PURGEX_FUZZ_CHECK(Store.Items.size() == size_t(Store.ItemCount));
    // No item takes more than the input's bytes, uncoded, or 48 per coded byte.
    uint64_t Total = 0;
    for (const auto& Item : Store.Items) Total += uint64_t(Item->ItemData.Size()) + Item->ItemName.size();
    PURGEX_FUZZ_CHECK(Total <= uint64_t(Size) * 48);
    return 0;
}
