#include "floppy/FloppyVolume.h"

#include <algorithm>
#include <string>

namespace {

// Appends to one file on the floppy.
class TFloppyFileStream : public TStream {
public:
    explicit TFloppyFileStream(std::unique_ptr<TFloppyFile> File) : File(std::move(File)) {}
    int64_t Read(void*, int64_t) override { return 0; }
    int64_t Write(const void* Buffer, int64_t Count) override {
        int64_t Done = 0;
        while (Done < Count) {
            const int32_t Piece = int32_t(std::min<int64_t>(Count - Done, 1 << 20));
            const int32_t Put = File->Write(static_cast<const uint8_t*>(Buffer) + Done, Piece);
            Done += Put;
            if (Put < Piece) break;
        }
        return Done;
    }
    // Only the end is a position: writes always append.
    int64_t Seek(int64_t Offset, TSeekOrigin Origin) override {
        const int64_t Size = File->FileSize();
        const int64_t Target = Origin == TSeekOrigin::Begin ? Offset : Size + Offset;
        return Target == Size ? Size : -1;
    }

private:
    std::unique_ptr<TFloppyFile> File;
};

} // namespace

bool TFloppyVolume::Formatted() {
    uint8_t Boot[FloppySectorSize];
    return Floppy.ReadSectors(0, Boot, 1) == 1 && TFatLayout::FromBootSector(Boot).Usable;
}

std::unique_ptr<TFloppyDirectory> TFloppyVolume::Parent(std::string_view Path, std::string& Name) {
    if (!Formatted()) return nullptr;
    auto Folder = std::make_unique<TFloppyDirectory>(Floppy);
    std::string Rest(Path);
    while (!Rest.empty() && (Rest.front() == '\\' || Rest.front() == '/'))
        Rest.erase(0, 1);
    for (;;) {
        const size_t Slash = Rest.find_first_of("\\/");
        if (Slash == std::string::npos) break;
        const std::string Part = Rest.substr(0, Slash);
        Rest.erase(0, Slash + 1);
        if (!Part.empty() && !Folder->ChangeDirectory(Part)) return nullptr;
    }
    Name = Rest;
    return Folder;
}

bool TFloppyVolume::FolderExists(std::string_view Path) {
    std::string Name;
    const auto Folder = Parent(Path, Name);
    if (!Folder) return false;
    return Name.empty() || Folder->ChangeDirectory(Name);
}

bool TFloppyVolume::CreateFolder(std::string_view Path) {
    std::string Name;
    const auto Folder = Parent(Path, Name);
    if (!Folder) return false;
    if (Name.empty() || Folder->ChangeDirectory(Name)) return true;
    TDirEntry Entry;
    if (Folder->FindEntry(Name, Entry)) return false; // a file of that name
    return Folder->CreateDirectory(Name) && Folder->ChangeDirectory(Name);
}

bool TFloppyVolume::FileExists(std::string_view Path) {
    std::string Name;
    const auto Folder = Parent(Path, Name);
    std::unique_ptr<TFloppyFile> File;
    return Folder && !Name.empty() && Folder->OpenFile(Name, File);
}

std::unique_ptr<TStream> TFloppyVolume::CreateOrReplace(std::string_view Path) {
    std::string Name;
    const auto Folder = Parent(Path, Name);
    std::unique_ptr<TFloppyFile> File;
    if (!Folder || Name.empty() || !Folder->CreateOrReplaceFile(Name, File)) return nullptr;
    return std::make_unique<TFloppyFileStream>(std::move(File));
}

std::unique_ptr<TStream> TFloppyVolume::OpenRead(std::string_view Path) {
    std::string Name;
    const auto Folder = Parent(Path, Name);
    std::unique_ptr<TFloppyFile> File;
    if (!Folder || Name.empty() || !Folder->OpenFile(Name, File)) return nullptr;
    std::vector<uint8_t> Data;
    if (!File->ReadAll(Data)) return nullptr;
    return std::make_unique<TMemoryStream>(std::move(Data));
}

bool TFloppyVolume::FreeSpace(uint32_t& ClusterSectors, uint32_t& FreeClusters,
                              uint32_t& ClusterCount) {
    uint8_t Boot[FloppySectorSize];
    if (Floppy.ReadSectors(0, Boot, 1) != 1) return false;
    const TFatLayout Layout = TFatLayout::FromBootSector(Boot);
    if (!Layout.Usable) return false;
    ClusterSectors = 1;
    ClusterCount = uint32_t(std::max(Layout.LastCluster - 1, 0));
    FreeClusters = 0;
    for (int32_t Cluster = 2; Cluster <= Layout.LastCluster; ++Cluster)
        if (Floppy.GetFatEntry(Cluster) == FatFree) ++FreeClusters;
    return true;
}
