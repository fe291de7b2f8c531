// Packs the payload items named by a manifest into a store container.
//
//   mkcontainer MANIFEST OUTPUT [--uncoded]
//
// Manifest: one item a line, "kind<TAB>item name<TAB>source file"; blank
// lines and lines starting with '#' are skipped. Items keep manifest order.

#include <cstdio>
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
        if (!ReadFile(Source, Item.Data)) {
            std::cerr << "mkcontainer: cannot read " << Source << "\n";
            return 1;
        }
        Items.push_back(std::move(Item));
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
