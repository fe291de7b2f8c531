// Packs the payload items named by a manifest into a store container.
//
//   mkcontainer MANIFEST OUTPUT [--uncoded]
//
// Manifest: one item a line, "kind<TAB>item name<TAB>source file"; blank
// lines and lines starting with '#' are skipped. Items keep manifest order.
// The source "@build-manifest" makes the item a text describing the build:
// version, build date (SOURCE_DATE_EPOCH when set, so that builds repeat
// byte for byte) and the size and CRC-32 of every other item.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>

#include "tools/container/ContainerWriter.h"

namespace {

bool ReadFile(const std::string& Path, std::vector<uint8_t>& Data) {
    std::ifstream In(Path, std::ios::binary);
    if (!In) return false;
    Data.assign(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>());
    return !In.bad();
}

uint32_t Crc32(const std::vector<uint8_t>& Data) {
    uint32_t Crc = 0xFFFFFFFFu;
    for (uint8_t Byte : Data) {
        Crc ^= Byte;
        for (int k = 0; k < 8; ++k) Crc = (Crc >> 1) ^ (0xEDB88320u & (0u - (Crc & 1)));
    }
    return ~Crc;
}

std::string BuildDate() {
    std::time_t Moment = std::time(nullptr);
    if (const char* Epoch = std::getenv("SOURCE_DATE_EPOCH"); Epoch && *Epoch)
        Moment = std::time_t(std::strtoll(Epoch, nullptr, 10));
    char Text[32];
    std::strftime(Text, sizeof Text, "%Y-%m-%d %H:%M:%S UTC", std::gmtime(&Moment));
    return Text;
}

std::vector<uint8_t> BuildManifest(const std::vector<TContainerItem>& Items) {
    std::ostringstream Out;
    Out << "Corvane Purgex 2005 payload\r\nVersion " << PURGEX_VERSION << "\r\nBuilt " << BuildDate()
        << "\r\n";
    for (const TContainerItem& Item : Items) {
        char Line[64];
        std::snprintf(Line, sizeof Line, "%08X %9zu ", unsigned(Crc32(Item.Data)), Item.Data.size());
        Out << Line << Item.Name << "\r\n";
    }
    const std::string Text = Out.str();
    return {Text.begin(), Text.end()};
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3 || argc > 4 || (argc == 4 && std::strcmp(argv[3], "--uncoded") != 0)) {
        std::cerr << "usage: mkcontainer MANIFEST OUTPUT [--uncoded]\n";
        return 2;
    }
    std::ifstream Manifest(argv[1]);
    if (!Manifest) {
        std::cerr << "mkcontainer: cannot read manifest " << argv[1] << "\n";
        return 1;
    }
    std::vector<TContainerItem> Items;
    std::vector<size_t> Manifests;
    std::string Line;
    for (int LineNumber = 1; std::getline(Manifest, Line); ++LineNumber) {
        if (Line.empty() || Line[0] == '#') continue;
        std::istringstream Fields(Line);
        std::string Kind, Name, Source;
        if (!std::getline(Fields, Kind, '\t') || !std::getline(Fields, Name, '\t') ||
            !std::getline(Fields, Source) || Kind.empty() || Name.empty()) {
            std::cerr << "mkcontainer: " << argv[1] << ":" << LineNumber
                      << ": expected kind, name and source separated by tabs\n";
            return 1;
        }
        TContainerItem Item;
        Item.Kind = uint8_t(std::stoul(Kind));
        Item.Name = Name;
        if (Source == "@build-manifest") {
            Manifests.push_back(Items.size());
        } else if (!ReadFile(Source, Item.Data)) {
            std::cerr << "mkcontainer: cannot read " << Source << "\n";
            return 1;
        }
        Items.push_back(std::move(Item));
    }

    for (size_t At : Manifests) {
        std::vector<TContainerItem> Others;
        for (size_t i = 0; i < Items.size(); ++i)
            if (std::find(Manifests.begin(), Manifests.end(), i) == Manifests.end())
                Others.push_back(Items[i]);
        Items[At].Data = BuildManifest(Others);
    }

    const bool Packed = argc != 4;
    const std::vector<uint8_t> Container = BuildContainer(BuildPayload(Items), Packed);
    std::ofstream Out(argv[2], std::ios::binary | std::ios::trunc);
    Out.write(reinterpret_cast<const char*>(Container.data()), std::streamsize(Container.size()));
    if (!Out.flush()) {
        std::cerr << "mkcontainer: cannot write " << argv[2] << "\n";
        return 1;
    }
    return 0;
}
