// The FAT12 classes on arbitrary 1.44 MB images (the input is the image's
// beginning, the rest zero): list every folder, enter each one, read every
// file back, then create a folder and a file, write to it and read it back.
// A file read back is never longer than its entry says and is complete when
// ReadAll says so; what was written reads back as written; an image that
// the walk found sound before is still sound afterwards (no chain broken,
// looped or shared).

#include <algorithm>
#include <cctype>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "FuzzTarget.h"
#include "floppy/FloppyDirectory.h"
#include "floppy/Vfloppy.h"

namespace {

constexpr int MaxDepth = 6;
constexpr int MaxEntries = 4000;

bool IsDotEntry(const std::string& Name) { return Name == "." || Name == ".."; }

// Walks every folder below the root; Sound turns false on any damage.
class TWalk {
public:
    TWalk(TVirtualFloppy& Floppy) : Floppy(Floppy) {
        Layout = TFatLayout::FromBootSector(Floppy.Image.data());
        Sound = Layout.Usable;
    }
    bool Sound;

    void Run() {
        if (Layout.Usable) Visit({}, 0);
    }

private:
    // Follows a chain; Expected clusters when known (-1 for folders).
    void Chain(int32_t First, int32_t Expected) {
        int32_t Cluster = First, Count = 0;
        while (true) {
            if (!Layout.IsDataCluster(Cluster) || !Owned.insert(Cluster).second) {
                Sound = false;
                return;
            }
            ++Count;
            const uint16_t Next = Floppy.GetFatEntry(Cluster);
            if (Next >= FatEndOfChain) break;
            Cluster = Next;
        }
        if (Expected >= 0 && Count != Expected) Sound = false;
    }

    void Visit(const std::vector<std::string>& Path, int Depth) {
        TFloppyDirectory Dir(Floppy);
        for (const std::string& Part : Path)
            if (!Dir.ChangeDirectory(Part)) {
                Sound = false;
                return;
            }
        std::vector<std::pair<std::string, TDirEntry>> Live;
        TDirEntry Entry;
        for (bool More = Dir.FindFirst(Entry); More && Entries < MaxEntries; More = Dir.FindNext(Entry)) {
            ++Entries;
            if (Entry[0] == EntryEnd) break;
            if (Entry[0] == EntryFree || (Entry[11] & AttrVolumeLabel)) continue;
            const std::string Name = TFloppyDirectory::FormatShortName(Entry);
            if (!IsDotEntry(Name)) Live.emplace_back(Name, Entry);
        }
        std::set<std::string> Names;
        for (const auto& [Name, Item] : Live) {
            std::string Key = Name;
            for (char& c : Key) c = char(std::toupper(static_cast<unsigned char>(c)));
            if (!Names.insert(Key).second) Sound = false; // two entries of one name
            const int32_t First = Item[26] | Item[27] << 8;
            const uint32_t Bytes = uint32_t(Item[28]) | uint32_t(Item[29]) << 8 |
                                   uint32_t(Item[30]) << 16 | uint32_t(Item[31]) << 24;
            if (Item[11] & AttrDirectory) {
                Chain(First, -1);
                if (Depth < MaxDepth && Sound) {
                    auto Deeper = Path;
                    Deeper.push_back(Name);
                    Visit(Deeper, Depth + 1);
                }
                continue;
            }
            if (Bytes == 0) {
                if (First != 0) Sound = false;
            } else {
                Chain(First, int32_t((uint64_t(Bytes) + FloppySectorSize - 1) / FloppySectorSize));
            }
            std::unique_ptr<TFloppyFile> File;
            if (!Dir.OpenFile(Name, File)) continue;
            // Judged by the entry the name found (with two of one name, the
            // first), never more than it records.
            std::vector<uint8_t> Contents;
            const bool Whole = File->ReadAll(Contents);
            PURGEX_FUZZ_CHECK(Contents.size() <= size_t(File->FileSize()));
            if (Whole) PURGEX_FUZZ_CHECK(Contents.size() == size_t(File->FileSize()));
        }
    }

    TVirtualFloppy& Floppy;
    TFatLayout Layout;
    std::set<int32_t> Owned;
    int Entries = 0;
};

bool Walk(TVirtualFloppy& Floppy) {
    TWalk W(Floppy);
    W.Run();
    return W.Sound;
}

} // namespace

PURGEX_FUZZ_TARGET(Fat12Fuzz) {
    auto Floppy = std::make_unique<TVirtualFloppy>();
    std::copy_n(Data, std::min<size_t>(Size, FloppyImageSize), Floppy->Image.begin());
    bool SoundBefore = Walk(*Floppy);

    // The last input byte sets how much is written.
    const int32_t Length = Size ? int32_t(Data[Size - 1]) * 97 : 0;
    std::vector<uint8_t> Bytes(static_cast<size_t>(Length));
    for (int32_t i = 0; i < Length; ++i) Bytes[size_t(i)] = uint8_t(i * 7 + 3);

    // Names are not looked up when created: a second entry of a name already
    // there would be the caller's fault, not damage.
    TFloppyDirectory Dir(*Floppy);
    TDirEntry Existing;
    if (Dir.FindEntry("FUZZDIR", Existing)) SoundBefore = false;
    if (Dir.CreateDirectory("FUZZDIR")) Dir.ChangeDirectory("FUZZDIR");
    if (Dir.FindEntry("NEW.BIN", Existing)) SoundBefore = false;
    std::unique_ptr<TFloppyFile> File;
    if (Dir.CreateFile("NEW.BIN", File)) {
        const int32_t Stored = File->Write(Bytes.data(), Length);
        PURGEX_FUZZ_CHECK(Stored >= 0 && Stored <= Length);
        const int32_t More = File->Write(Bytes.data(), Length / 2);
        std::vector<uint8_t> Expected(Bytes.begin(), Bytes.begin() + Stored);
        Expected.insert(Expected.end(), Bytes.begin(), Bytes.begin() + More);
        PURGEX_FUZZ_CHECK(File->FileSize() == int32_t(Expected.size()));
        std::unique_ptr<TFloppyFile> Again;
        PURGEX_FUZZ_CHECK(Dir.OpenFile("NEW.BIN", Again));
        std::vector<uint8_t> Back;
        const bool Whole = Again->ReadAll(Back);
        if (SoundBefore) {
            PURGEX_FUZZ_CHECK(Whole);
            PURGEX_FUZZ_CHECK(Back == Expected);
        }
    }
    // Replaced whole (as the start-up files are): the new contents read back
    // and a sound image stays sound.
    std::unique_ptr<TFloppyFile> Replaced;
    if (Dir.CreateOrReplaceFile("NEW.BIN", Replaced)) {
        const int32_t Stored = Replaced->Write(Bytes.data(), Length / 3);
        PURGEX_FUZZ_CHECK(Stored >= 0 && Stored <= Length / 3);
        std::unique_ptr<TFloppyFile> Again;
        PURGEX_FUZZ_CHECK(Dir.OpenFile("NEW.BIN", Again));
        std::vector<uint8_t> Back;
        const bool Whole = Again->ReadAll(Back);
        if (SoundBefore) {
            PURGEX_FUZZ_CHECK(Whole);
            PURGEX_FUZZ_CHECK(Back == std::vector<uint8_t>(Bytes.begin(), Bytes.begin() + Stored));
        }
    }
    if (SoundBefore) PURGEX_FUZZ_CHECK(Walk(*Floppy));
    return 0;
}
