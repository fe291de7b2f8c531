#pragma once
// Stores and images for the composer and creation-run tests: a store shaped
// like the real one (wiper files, AUTOEXEC.BAT, the two floppy images, a
// manifest of another kind) installed as the CD store.

#include <string>
#include <vector>

#include "FloppyTestSupport.h"
#include "image/ExeData.h"
#include "tools/container/ContainerWriter.h"

namespace composer_test {

inline std::vector<uint8_t> Bytes(const std::string& Text) { return {Text.begin(), Text.end()}; }

// An empty floppy whose root holds only the volume label DSKPURGX.
inline std::vector<uint8_t> EmptyMsDosFloppy() {
    auto Floppy = floppy_test::FreshFloppy();
    std::memcpy(&Floppy->Image[43], "DSKPURGX   ", 11); // the boot sector's copy of the label
    TFloppyDirectory Root(*Floppy);
    Root.CreateVolumeLabel("DSKPURGX");
    return {Floppy->Image.begin(), Floppy->Image.end()};
}

// A stand-in for the Rx-DOS floppy: one system file in the root.
inline std::vector<uint8_t> RxDosFloppy() {
    auto Floppy = floppy_test::FreshFloppy();
    TFloppyDirectory Root(*Floppy);
    floppy_test::AddFile(Root, "RXDOSBIO.SYS", std::vector<uint8_t>(3000, 0x42));
    return {Floppy->Image.begin(), Floppy->Image.end()};
}

inline std::vector<TContainerItem> StoreItems() {
    std::vector<uint8_t> Program(20000);
    for (size_t i = 0; i < Program.size(); ++i) Program[i] = uint8_t(i * 7);
    return {
        {1, "Purgit\\PURGIT.EXE", Program},
        {1, "Purgit\\DATA\\PURGIT.INI", Bytes("O1=0\r\n")},
        {1, "Purgit\\DATA\\HELP1.TXT", Bytes(std::string(513, 'h'))},
        {1, "Purgit\\METHODS\\ZEROS.MET", Bytes("name=zeros\r\n")},
        {1, "Purgit\\README.TXT", Bytes("")},
        {1, "AUTOEXEC.BAT", Bytes("echo stored\r\n")},
        {1, ".BOOT", RxDosFloppy()},
        {1, ".BOOTRECORD", EmptyMsDosFloppy()},
        {2, "MANIFEST", Bytes("not a file")},
    };
}

inline std::unique_ptr<TExeDataBase> MakeStore(const std::vector<TContainerItem>& Items) {
    auto Store = std::make_unique<TExeDataBase>();
    TMemoryStream Stream(BuildContainer(BuildPayload(Items), false));
    Store->LoadContainer(Stream);
    return Store;
}

// Installs a store as the CD store for one test.
class TCdStoreScope {
public:
    explicit TCdStoreScope(const std::vector<TContainerItem>& Items = StoreItems()) {
        Saved = std::move(CdStore);
        CdStore = MakeStore(Items);
    }
    ~TCdStoreScope() { CdStore = std::move(Saved); }

private:
    std::unique_ptr<TExeDataBase> Saved;
};

} // namespace composer_test
