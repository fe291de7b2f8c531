// Writes the disc container's LZH stream as the one "-lh1-" member of an LHA
// archive (level-0 header), so that an archive tool decodes exactly the bits
// the program decodes at start-up.
//
//   lha_member ARCHIVE [NAME]

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "base/ByteOrder.h"
#include "image/LZH.h"
#include "platform/Platform.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: lha_member ARCHIVE [NAME]\n");
        return 2;
    }
    const std::string Name = argc > 2 ? argv[2] : "PURGXCD.BIN";
    const auto Resource = Platform().OwnResource("STREAM", "PURGXCD");
    if (!Resource || Resource->size() < 9 || Name.size() > 200) {
        std::fprintf(stderr, "lha_member: no embedded PURGXCD container\n");
        return 1;
    }
    const auto Coded = Resource->subspan(5); // after the flag and the length

    // The archive header wants the decoded size and its CRC-16.
    TReadOnlyStream Source(Coded);
    TMemoryStream Decoded;
    UnpackStream(Source, Decoded);
    uint16_t Crc = 0;
    for (uint8_t b : Decoded.Bytes()) {
        Crc ^= b;
        for (int k = 0; k < 8; ++k)
            Crc = (Crc & 1) ? uint16_t((Crc >> 1) ^ 0xA001) : uint16_t(Crc >> 1);
    }

    std::vector<uint8_t> Header(22 + Name.size() + 2, 0);
    Header[0] = uint8_t(Header.size() - 2);
    std::memcpy(&Header[2], "-lh1-", 5);
    PutLE32(&Header[7], uint32_t(Coded.size() - 4)); // the bits without the size field
    PutLE32(&Header[11], uint32_t(Decoded.Size()));
    PutLE16(&Header[17], 0x5821); // 2024-01-01
    Header[19] = 0x20;            // archive attribute
    Header[21] = uint8_t(Name.size());
    std::memcpy(&Header[22], Name.data(), Name.size());
    PutLE16(&Header[22 + Name.size()], Crc);
    uint8_t Sum = 0;
    for (size_t i = 2; i < Header.size(); ++i)
        Sum = uint8_t(Sum + Header[i]);
    Header[1] = Sum;

    FILE* Out = std::fopen(argv[1], "wb");
    if (!Out) {
        std::perror(argv[1]);
        return 1;
    }
    const uint8_t End = 0;
    const bool Written =
        std::fwrite(Header.data(), 1, Header.size(), Out) == Header.size() &&
        std::fwrite(Coded.data() + 4, 1, Coded.size() - 4, Out) == Coded.size() - 4 &&
        std::fwrite(&End, 1, 1, Out) == 1;
    if (std::fclose(Out) != 0 || !Written) {
        std::fprintf(stderr, "lha_member: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
