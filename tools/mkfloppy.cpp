// Builds a 1.44 MB FAT12 floppy image with the system's own floppy classes.
//
//   mkfloppy --boot BOOTSECTOR.BIN --output IMAGE.IMG [--label LABEL] [ITEM ...]
//
// BOOTSECTOR.BIN is the 512-byte boot sector with its BPB. ITEM is
// IMAGEPATH=HOSTFILE (a file; missing folders on the way are created) or
// IMAGEPATH\ or IMAGEPATH/ (an empty folder); "\" and "/" both separate
// image path components, which must be 8.3 names. Items are added in
// argument order, so the first file of an image is contiguous from cluster 2.
// --label adds a volume label as the first root entry and, when the boot
// sector has an extended BPB, puts it in the BPB's label field too. Entry
// dates come from SOURCE_DATE_EPOCH when it is set.
//
// Exit codes: 0 done, 1 error (nothing written), 2 usage.

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/ByteOrder.h"
#include "floppy/FloppyDirectory.h"
#include "floppy/Vfloppy.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* Usage =
    "usage: mkfloppy --boot BOOTSECTOR.BIN --output IMAGE.IMG [--label LABEL] [ITEM ...]\n"
    "  ITEM  IMAGEPATH=HOSTFILE   copy a file (folders on the way are created)\n"
    "        IMAGEPATH\\ or /      an empty folder\n";

struct TItem {
    std::vector<std::string> Path; // folders, then the file name for a file
    std::string HostFile;          // empty for a folder
    std::string Text;              // as given, for messages
};

struct TUsageError {
    std::string Message;
};

struct TBuildError {
    std::string Message;
};

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

// Characters DOS refuses in a short name.
bool ValidNameChar(char c, bool SpaceAllowed) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F || (u == ' ' && !SpaceAllowed)) return false;
    return std::string_view("\"*+,./:;<=>?[\\]|").find(c) == std::string_view::npos;
}

void CheckShortName(const std::string& Name, const std::string& Item) {
    const size_t Dot = Name.find('.');
    const std::string Base = Name.substr(0, Dot);
    const std::string Extension = Dot == std::string::npos ? "" : Name.substr(Dot + 1);
    bool Valid = !Base.empty() && Base.size() <= 8 && Extension.size() <= 3 &&
                 (Dot == std::string::npos || !Extension.empty());
    for (char c : Base + Extension)
        Valid = Valid && ValidNameChar(c, false);
    if (!Valid) throw TUsageError{"'" + Name + "' in '" + Item + "' is not an 8.3 name"};
}

std::vector<std::string> SplitImagePath(std::string_view Path, const std::string& Item) {
    std::vector<std::string> Parts;
    size_t Begin = 0;
    while (Begin < Path.size() && IsSeparator(Path[Begin]))
        ++Begin; // a leading root
    while (Begin < Path.size()) {
        size_t End = Begin;
        while (End < Path.size() && !IsSeparator(Path[End]))
            ++End;
        Parts.emplace_back(Path.substr(Begin, End - Begin));
        CheckShortName(Parts.back(), Item);
        Begin = End + 1;
        if (End < Path.size() && Begin < Path.size() && IsSeparator(Path[Begin]))
            throw TUsageError{"empty folder name in '" + Item + "'"};
    }
    if (Parts.empty()) throw TUsageError{"no image path in '" + Item + "'"};
    return Parts;
}

TItem ParseItem(const std::string& Text) {
    TItem Item;
    Item.Text = Text;
    const size_t Equals = Text.find('=');
    if (Equals == std::string::npos) {
        if (Text.empty() || !IsSeparator(Text.back()))
            throw TUsageError{"'" + Text +
                              "' is neither IMAGEPATH=HOSTFILE nor a folder ending in \\ or /"};
        Item.Path = SplitImagePath(Text, Text);
        return Item;
    }
    const std::string_view ImagePath = std::string_view(Text).substr(0, Equals);
    Item.HostFile = Text.substr(Equals + 1);
    if (ImagePath.empty() || IsSeparator(ImagePath.back()))
        throw TUsageError{"'" + Text + "' needs a file name before '='"};
    if (Item.HostFile.empty()) throw TUsageError{"'" + Text + "' names no host file"};
    Item.Path = SplitImagePath(ImagePath, Text);
    return Item;
}

std::string ImagePath(const std::vector<std::string>& Parts, size_t Count) {
    std::string Text;
    for (size_t i = 0; i < Count; ++i)
        Text += (i ? "\\" : "") + Parts[i];
    return Text;
}

std::vector<uint8_t> ReadHostFile(const std::string& Path) {
    std::error_code Error;
    if (!fs::is_regular_file(Path, Error)) throw TBuildError{"cannot read " + Path};
    std::ifstream In(Path, std::ios::binary);
    std::vector<uint8_t> Data{std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>()};
    if (!In && !In.eof()) throw TBuildError{"cannot read " + Path};
    return Data;
}

// The floppy classes assume the standard 1.44 MB layout; a BPB that says
// otherwise would describe a different disk than the one written.
void CheckBootSector(const std::vector<uint8_t>& Boot, const std::string& Path) {
    if (Boot.size() != size_t(FloppySectorSize))
        throw TBuildError{Path + ": a boot sector is 512 bytes, this file has " +
                          std::to_string(Boot.size())};
    const uint8_t* b = Boot.data();
    const int RootEntries = GetLE16(b + 17);
    struct {
        const char* Field;
        int Value, Expected;
    } const Checks[] = {
        {"bytes per sector", GetLE16(b + 11), 512}, {"sectors per cluster", b[13], 1},
        {"reserved sectors", GetLE16(b + 14), 1},   {"FAT count", b[16], 2},
        {"total sectors", GetLE16(b + 19), 2880},   {"media byte", b[21], FloppyMediaByte},
        {"sectors per FAT", GetLE16(b + 22), 9},
    };
    for (const auto& Check : Checks)
        if (Check.Value != Check.Expected)
            throw TBuildError{Path + ": BPB " + Check.Field + " is " + std::to_string(Check.Value) +
                              ", a 1.44 MB floppy needs " + std::to_string(Check.Expected)};
    if (!TFatLayout::FromBootSector(b).Usable || RootEntries % DirEntriesPerSector != 0)
        throw TBuildError{Path + ": BPB root entry count " + std::to_string(RootEntries) +
                          " is not a usable multiple of 16"};
}

// DOS keeps the label in the extended BPB as well (signature 29 at offset
// 38, label at 43); both places agree, as FORMAT leaves them.
void SetBootSectorLabel(TVirtualFloppy& Floppy, const std::string& Label) {
    uint8_t* Boot = Floppy.Image.data();
    if (Boot[38] != 0x29) return;
    for (size_t i = 0; i < 11; ++i) {
        const char c = i < Label.size() ? Label[i] : ' ';
        Boot[43 + i] = uint8_t(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    }
}

void AddItem(TVirtualFloppy& Floppy, const TItem& Item) {
    TFloppyDirectory Directory(Floppy);
    const size_t Folders = Item.HostFile.empty() ? Item.Path.size() : Item.Path.size() - 1;
    TDirEntry Entry;
    for (size_t i = 0; i < Folders; ++i) {
        const std::string& Name = Item.Path[i];
        if (Directory.ChangeDirectory(Name)) continue;
        const std::string Where = ImagePath(Item.Path, i + 1);
        if (Directory.FindEntry(Name, Entry))
            throw TBuildError{Where + " already exists as a file"};
        if (!Directory.CreateDirectory(Name))
            throw TBuildError{"cannot create folder " + Where + ": " +
                              (Directory.IsInRoot() ? "root directory or disk full" : "disk full")};
        if (!Directory.ChangeDirectory(Name))
            throw TBuildError{"cannot enter the new folder " + Where};
    }
    if (Item.HostFile.empty()) return;

    const std::string Where = ImagePath(Item.Path, Item.Path.size());
    if (Directory.FindEntry(Item.Path.back(), Entry))
        throw TBuildError{Where + " is already in the image"};
    const std::vector<uint8_t> Data = ReadHostFile(Item.HostFile);
    if (Data.size() > size_t(FloppyImageSize))
        throw TBuildError{"disk full: " + Item.HostFile + " is larger than a floppy"};
    std::unique_ptr<TFloppyFile> File;
    if (!Directory.CreateFile(Item.Path.back(), File))
        throw TBuildError{"cannot create " + Where + ": " +
                          (Directory.IsInRoot() ? "root directory full" : "disk full")};
    const int32_t Stored = File->Write(Data.data(), int32_t(Data.size()));
    if (Stored != int32_t(Data.size()))
        throw TBuildError{"disk full while writing " + Where + " (" + std::to_string(Stored) +
                          " of " + std::to_string(Data.size()) + " bytes stored)"};
}

void WriteImage(const TVirtualFloppy& Floppy, const std::string& Output) {
    // Written beside the target and renamed, so a failure leaves no partial image.
    const fs::path Temporary = Output + ".tmp";
    {
        std::ofstream Out(Temporary, std::ios::binary | std::ios::trunc);
        Out.write(reinterpret_cast<const char*>(Floppy.Image.data()),
                  std::streamsize(Floppy.Image.size()));
        if (!Out.flush()) {
            Out.close();
            std::error_code Ignored;
            fs::remove(Temporary, Ignored);
            throw TBuildError{"cannot write " + Output};
        }
    }
    std::error_code Error;
    fs::rename(Temporary, Output, Error);
    if (Error) {
        fs::remove(Temporary, Error);
        throw TBuildError{"cannot write " + Output};
    }
}

} // namespace

int main(int argc, char** argv) {
    std::string Boot, Output, Label;
    bool HasLabel = false;
    std::vector<TItem> Items;
    try {
        for (int i = 1; i < argc; ++i) {
            const std::string Arg = argv[i];
            if (Arg == "--help" || Arg == "-h") {
                std::cout << Usage;
                return 0;
            }
            if (Arg == "--boot" || Arg == "--output" || Arg == "--label") {
                if (i + 1 >= argc) throw TUsageError{Arg + " needs a value"};
                std::string& Value = Arg == "--boot" ? Boot : Arg == "--output" ? Output : Label;
                if (!Value.empty() || (Arg == "--label" && HasLabel))
                    throw TUsageError{Arg + " given twice"};
                Value = argv[++i];
                if (Arg == "--label") HasLabel = true;
                if (Value.empty()) throw TUsageError{Arg + " needs a value"};
            } else if (Arg.rfind("--", 0) == 0) {
                throw TUsageError{"unknown option " + Arg};
            } else {
                Items.push_back(ParseItem(Arg));
            }
        }
        if (Boot.empty() || Output.empty()) throw TUsageError{"--boot and --output are required"};
        if (HasLabel) {
            bool Valid = Label.size() <= 11 && Label.front() != ' ';
            for (char c : Label)
                Valid = Valid && ValidNameChar(c, true);
            if (!Valid)
                throw TUsageError{"'" + Label + "' is not a volume label (1-11 characters)"};
        }
    } catch (const TUsageError& Error) {
        std::cerr << "mkfloppy: " << Error.Message << "\n" << Usage;
        return 2;
    }

    try {
        bool Malformed = false;
        SourceDateEpoch(&Malformed);
        if (Malformed) throw TBuildError{"SOURCE_DATE_EPOCH is not a number of seconds"};

        const std::vector<uint8_t> BootSector = ReadHostFile(Boot);
        CheckBootSector(BootSector, Boot);
        auto Floppy = std::make_unique<TVirtualFloppy>();
        TMemoryStream Stream(BootSector);
        Floppy->LoadFromStream(Stream, Stream.Size());

        if (HasLabel) {
            TFloppyDirectory Root(*Floppy);
            if (!Root.CreateVolumeLabel(Label)) throw TBuildError{"cannot add the volume label"};
            SetBootSectorLabel(*Floppy, Label);
        }
        for (const TItem& Item : Items)
            AddItem(*Floppy, Item);
        WriteImage(*Floppy, Output);
    } catch (const TBuildError& Error) {
        std::cerr << "mkfloppy: " << Error.Message << "\n";
        return 1;
    } catch (const std::exception& Error) {
        std::cerr << "mkfloppy: " << Error.what() << "\n";
        return 1;
    }
    return 0;
}
