#include "report/RecordFiles.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <set>
#include <system_error>

#include "report/EraseRecord.h"

namespace fs = std::filesystem;

namespace {

bool EndsWithRec(const std::string& Name) {
    if (Name.size() < 4) return false;
    std::string Tail = Name.substr(Name.size() - 4);
    std::transform(Tail.begin(), Tail.end(), Tail.begin(),
                   [](unsigned char c) { return char(std::toupper(c)); });
    return Tail == ".REC";
}

// Reads a file whole, refusing anything larger than a record can be.
bool ReadSmallFile(const fs::path& File, std::string& Bytes, std::string& Problem) {
    std::ifstream In(File, std::ios::binary);
    if (!In) {
        Problem = "cannot be opened";
        return false;
    }
    Bytes.assign(MaxRecordBytes + 1, '\0');
    In.read(Bytes.data(), std::streamsize(Bytes.size()));
    Bytes.resize(size_t(In.gcount()));
    if (Bytes.size() > MaxRecordBytes) {
        Problem =
            "is larger than " + std::to_string(MaxRecordBytes) + " bytes: not an erase record";
        return false;
    }
    return true;
}

uint32_t Le(const uint8_t* p, int n) {
    uint32_t v = 0;
    for (int i = n - 1; i >= 0; --i)
        v = v << 8 | p[i];
    return v;
}

// A FAT volume's root folder, read with every offset checked against the
// image: nothing outside it is read and no chain is walked forever.
class TFatReader {
public:
    explicit TFatReader(const std::string& Path) : In(Path, std::ios::binary) {
        if (In) {
            In.seekg(0, std::ios::end);
            Size = uint64_t(In.tellg());
        }
    }

    bool Read(uint64_t Offset, void* To, size_t n) {
        if (!In || Offset > Size || n > Size - Offset) return false;
        In.seekg(std::streamoff(Offset));
        In.read(static_cast<char*>(To), std::streamsize(n));
        return size_t(In.gcount()) == n;
    }

    bool Open(std::string& Problem);
    bool Records(std::vector<TFoundRecord>& Out, const std::string& Image, std::string& Problem);

private:
    bool Volume(uint64_t Start);
    uint32_t Next(uint32_t Cluster);
    bool Chain(uint32_t First, uint64_t Limit, std::vector<uint32_t>& Clusters);

    std::ifstream In;
    uint64_t Size = 0;
    uint64_t Base = 0, FatStart = 0, RootStart = 0, DataStart = 0;
    uint32_t SectorBytes = 0, ClusterBytes = 0, RootEntries = 0, RootCluster = 0, Clusters = 0;
    int Bits = 0;
};

bool TFatReader::Volume(uint64_t Start) {
    uint8_t B[512];
    if (!Read(Start, B, 512) || B[510] != 0x55 || B[511] != 0xAA) return false;
    SectorBytes = Le(B + 11, 2);
    const uint32_t PerCluster = B[13], Reserved = Le(B + 14, 2), Fats = B[16];
    RootEntries = Le(B + 17, 2);
    uint32_t Total = Le(B + 19, 2);
    if (!Total) Total = Le(B + 32, 4);
    uint32_t FatSectors = Le(B + 22, 2);
    if (!FatSectors) FatSectors = Le(B + 36, 4);
    if ((SectorBytes != 512 && SectorBytes != 1024 && SectorBytes != 2048 && SectorBytes != 4096) ||
        !PerCluster || (PerCluster & (PerCluster - 1)) || !Reserved || !Fats || Fats > 4 ||
        !FatSectors || !Total)
        return false;
    Base = Start;
    ClusterBytes = SectorBytes * PerCluster;
    FatStart = Start + uint64_t(Reserved) * SectorBytes;
    RootStart = FatStart + uint64_t(Fats) * FatSectors * SectorBytes;
    const uint64_t RootSectors = (uint64_t(RootEntries) * 32 + SectorBytes - 1) / SectorBytes;
    DataStart = RootStart + RootSectors * SectorBytes;
    const uint64_t Used = Reserved + uint64_t(Fats) * FatSectors + RootSectors;
    if (Used >= Total) return false;
    Clusters = uint32_t((Total - Used) / PerCluster);
    Bits = Clusters < 4085 ? 12 : Clusters < 65525 ? 16 : 32;
    if (Bits == 32) {
        if (RootEntries) return false;
        RootCluster = Le(B + 44, 4);
    } else if (!RootEntries) {
        return false;
    }
    return true;
}

bool TFatReader::Open(std::string& Problem) {
    if (!In) {
        Problem = "cannot be opened";
        return false;
    }
    if (Volume(0)) return true;
    uint8_t Mbr[512];
    if (Read(0, Mbr, 512) && Mbr[510] == 0x55 && Mbr[511] == 0xAA) {
        static const std::set<uint8_t> FatTypes{0x01, 0x04, 0x06, 0x0B, 0x0C, 0x0E};
        for (int i = 0; i < 4; ++i) {
            const uint8_t* E = Mbr + 446 + 16 * i;
            const uint32_t Start = Le(E + 8, 4);
            if (FatTypes.count(E[4]) && Start && Volume(uint64_t(Start) * 512)) return true;
        }
    }
    Problem = "is neither an erase record nor a disk image with a FAT file system";
    return false;
}

uint32_t TFatReader::Next(uint32_t Cluster) {
    uint8_t V[4] = {};
    if (Bits == 12) {
        if (!Read(FatStart + Cluster + Cluster / 2, V, 2)) return 0;
        const uint32_t W = Le(V, 2);
        return Cluster & 1 ? W >> 4 : W & 0xFFF;
    }
    if (!Read(FatStart + uint64_t(Cluster) * (Bits / 8), V, size_t(Bits / 8))) return 0;
    return Bits == 16 ? Le(V, 2) : Le(V, 4) & 0x0FFFFFFF;
}

// The clusters of a chain up to Limit bytes; false for a broken chain.
bool TFatReader::Chain(uint32_t First, uint64_t Limit, std::vector<uint32_t>& Out) {
    const uint32_t End = Bits == 12 ? 0xFF8 : Bits == 16 ? 0xFFF8 : 0x0FFFFFF8;
    std::set<uint32_t> Seen;
    for (uint32_t C = First; C < End; C = Next(C)) {
        if (C < 2 || C >= Clusters + 2 || !Seen.insert(C).second) return false;
        Out.push_back(C);
        if (uint64_t(Out.size()) * ClusterBytes >= Limit) return true;
    }
    return true;
}

bool TFatReader::Records(std::vector<TFoundRecord>& Out, const std::string& Image,
                         std::string& Problem) {
    std::vector<uint8_t> Root;
    if (Bits == 32) {
        std::vector<uint32_t> Clusters;
        if (!Chain(RootCluster, 1u << 20, Clusters)) {
            Problem = "the root folder's cluster chain is broken";
            return false;
        }
        for (uint32_t C : Clusters) {
            const size_t At = Root.size();
            Root.resize(At + ClusterBytes);
            if (!Read(DataStart + uint64_t(C - 2) * ClusterBytes, Root.data() + At, ClusterBytes)) {
                Problem = "the root folder lies outside the image";
                return false;
            }
        }
    } else {
        Root.resize(size_t(RootEntries) * 32);
        if (!Read(RootStart, Root.data(), Root.size())) {
            Problem = "the root folder lies outside the image";
            return false;
        }
    }
    // A hostile image could name thousands of large records: the wiper
    // numbers at most 9,999, and 64 MB hold far more than that many runs.
    size_t Total = 0;
    for (size_t At = 0; At + 32 <= Root.size(); At += 32) {
        if (Out.size() >= 9999 || Total > (64u << 20)) {
            Problem = "more records than any stick holds; the rest of its root folder is not read";
            return false;
        }
        const uint8_t* E = Root.data() + At;
        if (E[0] == 0) break;
        if (E[0] == 0xE5 || (E[11] & 0x18) || E[11] == 0x0F) continue;
        std::string Name(reinterpret_cast<const char*>(E), 8),
            Ext(reinterpret_cast<const char*>(E + 8), 3);
        Name.erase(Name.find_last_not_of(' ') + 1);
        if (Ext != "REC") continue;
        const std::string Full = Image + ":" + Name + ".REC";
        const uint32_t Bytes = Le(E + 28, 4);
        const uint32_t First = Le(E + 26, 2) | (Bits == 32 ? Le(E + 20, 2) << 16 : 0);
        if (Bytes > MaxRecordBytes) {
            Out.push_back({Full, std::string(MaxRecordBytes + 1, '\0')}); // refused by the reader
            Total += MaxRecordBytes;
            continue;
        }
        std::vector<uint32_t> Clusters;
        std::string Data;
        if (Bytes && !Chain(First, Bytes, Clusters)) Clusters.clear();
        for (uint32_t C : Clusters) {
            const size_t At2 = Data.size();
            Data.resize(At2 + ClusterBytes);
            if (!Read(DataStart + uint64_t(C - 2) * ClusterBytes, Data.data() + At2, ClusterBytes))
                break;
        }
        // A chain shorter than the size leaves the record cut short, which
        // the reader reports.
        if (Data.size() > Bytes) Data.resize(Bytes);
        Total += Data.size();
        Out.push_back({Full, Data});
    }
    std::sort(Out.begin(), Out.end(),
              [](const TFoundRecord& a, const TFoundRecord& b) { return a.Name < b.Name; });
    return true;
}

} // namespace

bool ReadImageRecords(const std::string& Image, std::vector<TFoundRecord>& Records,
                      std::string& Problem) {
    TFatReader Reader(Image);
    return Reader.Open(Problem) && Reader.Records(Records, Image, Problem);
}

void FindRecords(const std::string& Path, TFoundRecords& Found) {
    std::error_code Error;
    const auto Status = fs::status(Path, Error);
    if (Error || !fs::exists(Status)) {
        Found.Problems.push_back(Path + ": no such file or folder");
        return;
    }
    if (fs::is_directory(Status)) {
        std::vector<fs::path> Files;
        for (const auto& Entry : fs::directory_iterator(Path, Error))
            if (Entry.is_regular_file(Error) && EndsWithRec(Entry.path().filename().string()))
                Files.push_back(Entry.path());
        std::sort(Files.begin(), Files.end());
        if (Files.empty())
            Found.Problems.push_back(Path + ": no erase records (*.REC) in this folder");
        for (const auto& File : Files) {
            std::string Bytes, Problem;
            if (ReadSmallFile(File, Bytes, Problem))
                Found.Records.push_back({File.string(), Bytes});
            else
                Found.Problems.push_back(File.string() + ": " + Problem);
        }
        return;
    }
    // A record starts with its first section; anything else may be an image.
    char Start[8] = {};
    {
        std::ifstream In(Path, std::ios::binary);
        In.read(Start, sizeof Start);
    }
    if (std::string(Start, 8) == "[record]" || EndsWithRec(Path)) {
        std::string Bytes, Problem;
        if (ReadSmallFile(Path, Bytes, Problem))
            Found.Records.push_back({Path, Bytes});
        else
            Found.Problems.push_back(Path + ": " + Problem);
        return;
    }
    std::vector<TFoundRecord> Records;
    std::string Problem;
    if (!ReadImageRecords(Path, Records, Problem)) {
        Found.Problems.push_back(Path + ": " + Problem);
        return;
    }
    if (Records.empty())
        Found.Problems.push_back(Path + ": no erase records (*.REC) in its root folder");
    for (auto& R : Records)
        Found.Records.push_back(std::move(R));
}
