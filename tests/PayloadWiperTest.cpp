// The wiper's files as the build leaves them for the containers: the method
// files against the published method definitions, the text files against
// what a DOS screen and FAT12 accept, the INI against its fixed format, and
// the two DOS programs' MZ headers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>

#include "TestSupport.h"
#include "base/ByteOrder.h"
#include "image/WiperOptions.h"

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

#ifdef PURGEX_CONTAINERS_DIR
const fs::path Tree = fs::path(PURGEX_CONTAINERS_DIR) / "purgit" / "Purgit";
#else
const fs::path Tree;
#endif

std::string ReadText(const fs::path& Path) {
    const auto Bytes = ReadFileBytes(Path);
    return {Bytes.begin(), Bytes.end()};
}

// --- a reader for the method format, written from its documentation ---------

enum class TPassKind { Fixed, Complement, Random };

struct TPass {
    TPassKind Kind = TPassKind::Random;
    std::vector<uint8_t> Bytes; // Fixed only
};

struct TMethod {
    std::string Name;
    std::vector<TPass> Passes;
    std::string Verify;
};

std::optional<std::vector<uint8_t>> ParseHexBytes(const std::string& Text) {
    std::vector<uint8_t> Bytes;
    std::istringstream In(Text);
    std::string Word;
    while (In >> Word) {
        if (Word.size() != 2 || !isxdigit(uint8_t(Word[0])) || !isxdigit(uint8_t(Word[1])))
            return std::nullopt;
        Bytes.push_back(uint8_t(std::stoi(Word, nullptr, 16)));
    }
    if (Bytes.empty() || Bytes.size() > 16) return std::nullopt;
    return Bytes;
}

// Empty Error means the text is a valid method file.
TMethod ParseMethod(const std::string& Text, std::string& Error) {
    TMethod Method;
    std::map<std::string, std::string> Keys;
    std::istringstream In(Text);
    std::string Line;
    std::vector<std::string> Order;
    while (std::getline(In, Line)) {
        if (!Line.empty() && Line.back() == '\r') Line.pop_back();
        if (Line.empty() || Line[0] == ';') continue;
        const auto Eq = Line.find('=');
        if (Eq == std::string::npos || Eq == 0) {
            Error = "no KEY=VALUE: " + Line;
            return Method;
        }
        const std::string Key = Line.substr(0, Eq);
        if (Keys.count(Key)) {
            Error = "duplicate key " + Key;
            return Method;
        }
        Keys[Key] = Line.substr(Eq + 1);
        Order.push_back(Key);
    }
    for (const char* Required : {"NAME", "PASSES", "VERIFY"})
        if (!Keys.count(Required)) {
            Error = std::string("missing ") + Required;
            return Method;
        }
    Method.Name = Keys["NAME"];
    if (Method.Name.empty() || Method.Name.size() > 60) Error = "bad NAME";
    Method.Verify = Keys["VERIFY"];
    if (Method.Verify != "NONE" && Method.Verify != "LAST" && Method.Verify != "ALL")
        Error = "bad VERIFY";
    const std::string& Count = Keys["PASSES"];
    if (Count.empty() || Count.size() > 2 ||
        !std::all_of(Count.begin(), Count.end(), [](char c) { return isdigit(uint8_t(c)); }) ||
        std::stoi(Count) < 1) {
        Error = "bad PASSES";
        return Method;
    }
    const int Passes = std::stoi(Count);
    // Exactly PASS1..PASSn, in order, and no other key.
    int Next = 1;
    for (const auto& Key : Order) {
        if (Key == "NAME" || Key == "SOURCE" || Key == "PASSES" || Key == "VERIFY") continue;
        if (Key != "PASS" + std::to_string(Next)) {
            Error = "unexpected key " + Key;
            return Method;
        }
        const std::string& Value = Keys[Key];
        TPass Pass;
        if (Value == "RANDOM") {
            Pass.Kind = TPassKind::Random;
        } else if (Value == "COMPLEMENT") {
            if (Next == 1) Error = "COMPLEMENT in pass 1";
            Pass.Kind = TPassKind::Complement;
        } else if (Value.rfind("FIXED ", 0) == 0) {
            const auto Bytes = ParseHexBytes(Value.substr(6));
            if (!Bytes) Error = "bad FIXED bytes: " + Value;
            Pass.Kind = TPassKind::Fixed;
            if (Bytes) Pass.Bytes = *Bytes;
        } else {
            Error = "bad pattern: " + Value;
        }
        Method.Passes.push_back(Pass);
        ++Next;
    }
    if (Next - 1 != Passes) Error = "PASSES does not match the PASSn lines";
    return Method;
}

// The pattern a pass really writes, with COMPLEMENT resolved; "R" for random
// data (and its complement, which is just as random).
std::vector<std::string> Effective(const TMethod& Method) {
    std::vector<std::string> Out;
    std::vector<uint8_t> Previous;
    bool PreviousRandom = false;
    for (const auto& Pass : Method.Passes) {
        std::vector<uint8_t> Bytes = Pass.Bytes;
        bool Random = Pass.Kind == TPassKind::Random;
        if (Pass.Kind == TPassKind::Complement) {
            Random = PreviousRandom;
            Bytes = Previous;
            for (auto& b : Bytes)
                b = uint8_t(~b);
        }
        std::string Text;
        if (Random) {
            Text = Pass.Kind == TPassKind::Complement ? "~R" : "R";
        } else {
            for (uint8_t b : Bytes) {
                char Hex[4];
                snprintf(Hex, sizeof Hex, "%s%02X", Text.empty() ? "" : " ", b);
                Text += Hex;
            }
        }
        Out.push_back(Text);
        Previous = Bytes;
        PreviousRandom = Random;
    }
    return Out;
}

TMethod LoadMethod(const std::string& File) {
    std::string Error;
    const TMethod Method = ParseMethod(ReadText(Tree / "METHODS" / File), Error);
    EXPECT_EQ(Error, "") << File;
    return Method;
}

std::vector<std::string> Repeat(std::vector<std::string> Head, const std::string& Pattern,
                                int Count) {
    Head.insert(Head.end(), Count, Pattern);
    return Head;
}

std::vector<fs::path> FilesUnder(const fs::path& Root) {
    std::vector<fs::path> Files;
    for (const auto& Entry : fs::recursive_directory_iterator(Root))
        if (Entry.is_regular_file()) Files.push_back(Entry.path());
    std::sort(Files.begin(), Files.end());
    return Files;
}

bool IsText(const fs::path& Path) {
    const std::string Ext = Path.extension().string();
    return Ext == ".TXT" || Ext == ".MET" || Ext == ".INI";
}

// The wiper's options 1 to 11 as the wizard names them.
const std::vector<std::string> Captions(OptionCaptions, OptionCaptions + DisableMouseOption);

} // namespace

class PayloadWiper : public ::testing::Test {
protected:
    void SetUp() override {
        REQUIRE_HOST_TOOLS();
        ASSERT_TRUE(fs::is_directory(Tree)) << Tree;
    }
};

TEST_F(PayloadWiper, MethodFormatReaderRejectsBrokenFiles) {
    // The checks below rely on this reader; make sure it can say no.
    const std::string Good = "NAME=x\r\nPASSES=2\r\nPASS1=FIXED 00\r\nPASS2=COMPLEMENT\r\n"
                             "VERIFY=LAST\r\n";
    std::string Error;
    EXPECT_EQ(Effective(ParseMethod(Good, Error)), (std::vector<std::string>{"00", "FF"}));
    EXPECT_EQ(Error, "");
    for (const std::string Bad : {
             "NAME=x\r\nPASSES=2\r\nPASS1=FIXED 00\r\nVERIFY=LAST\r\n",
             "NAME=x\r\nPASSES=1\r\nPASS1=COMPLEMENT\r\nVERIFY=LAST\r\n",
             "NAME=x\r\nPASSES=1\r\nPASS1=FIXED 0G\r\nVERIFY=LAST\r\n",
             "NAME=x\r\nPASSES=1\r\nPASS2=RANDOM\r\nVERIFY=LAST\r\n",
             "NAME=x\r\nPASSES=1\r\nPASS1=RANDOM\r\nVERIFY=SOMETIMES\r\n",
             "NAME=x\r\nPASSES=1\r\nPASS1=RANDOM\r\n",
         }) {
        Error.clear();
        ParseMethod(Bad, Error);
        EXPECT_NE(Error, "") << Bad;
    }
}

TEST_F(PayloadWiper, MethodsMatchTheirPublishedDefinitions) {
    // Gutmann: passes 1-4 random, 5-31 fixed, 32-35 random.
    std::vector<std::string> GutmannAll = Repeat({}, "R", 4);
    for (const char* Fixed :
         {"55",       "AA",       "92 49 24", "49 24 92", "24 92 49", "00",      "11",
          "22",       "33",       "44",       "55",       "66",       "77",      "88",
          "99",       "AA",       "BB",       "CC",       "DD",       "EE",      "FF",
          "92 49 24", "49 24 92", "24 92 49", "6D B6 DB", "B6 DB 6D", "DB 6D B6"})
        GutmannAll.push_back(Fixed);
    GutmannAll = Repeat(GutmannAll, "R", 4);
    ASSERT_EQ(GutmannAll.size(), 35u);

    const std::map<std::string, std::vector<std::string>> Published = {
        {"ZERO.MET", {"00"}},
        {"RANDOM.MET", {"R"}},
        {"NIST.MET", {"00"}},
        {"HMGBASE.MET", {"00"}},
        {"HMGENH.MET", {"00", "FF", "R"}},
        // A character, its complement, a random character.
        {"DOD3.MET", {"00", "FF", "R"}},
        // (E), then (C) a single random overwrite, then (E) again.
        {"DOD7.MET", {"00", "FF", "R", "R", "00", "FF", "R"}},
        {"VSITR.MET", {"00", "FF", "00", "FF", "00", "FF", "AA"}},
        {"RCMP.MET", {"00", "FF", "00", "FF", "00", "FF", "R"}},
        {"SCHNEIER.MET", {"FF", "00", "R", "R", "R", "R", "R"}},
        {"ARMY.MET", {"R", "00", "FF"}},
        {"GUTMANN.MET", GutmannAll},
    };
    std::set<std::string> OnDisk;
    for (const auto& Entry : fs::directory_iterator(Tree / "METHODS"))
        OnDisk.insert(Entry.path().filename().string());
    std::set<std::string> Expected;
    for (const auto& [File, Passes] : Published)
        Expected.insert(File);
    EXPECT_EQ(OnDisk, Expected);

    for (const auto& [File, Passes] : Published) {
        const TMethod Method = LoadMethod(File);
        EXPECT_EQ(Effective(Method), Passes) << File;
        // Every method ends with a check that the last pass reached the disk.
        EXPECT_EQ(Method.Verify, "LAST") << File;
    }
    // The DoD complement passes are written as COMPLEMENT, not as fixed FF,
    // so a different first character still gives its complement.
    const TMethod Dod = LoadMethod("DOD3.MET");
    ASSERT_EQ(Dod.Passes.size(), 3u);
    EXPECT_EQ(Dod.Passes[1].Kind, TPassKind::Complement);
}

TEST_F(PayloadWiper, HelpListsEveryMethodAndEveryOption) {
    const std::string Help = ReadText(Tree / "HELP.TXT");
    for (const auto& Entry : fs::directory_iterator(Tree / "METHODS")) {
        const std::string File = Entry.path().filename().string();
        const TMethod Method = LoadMethod(File);
        const auto At = Help.find("\r\n  " + File);
        ASSERT_NE(At, std::string::npos) << File << " is not listed in HELP.TXT";
        const std::string Row = Help.substr(At + 2, Help.find("\r\n", At + 2) - At - 2);
        EXPECT_NE(Row.find(" " + std::to_string(Method.Passes.size())), std::string::npos)
            << "HELP.TXT gives another pass count for " << File << ": " << Row;
    }
    for (size_t i = 0; i < Captions.size(); ++i) {
        const std::string Key = "O" + std::to_string(i + 1) + " ";
        const auto At = Help.find("\r\n  " + Key);
        ASSERT_NE(At, std::string::npos) << Key;
        const std::string Row = Help.substr(At + 2, Help.find("\r\n", At + 2) - At - 2);
        EXPECT_NE(Row.find(Captions[i]), std::string::npos) << Row;
        // The help text of the option starts with its caption.
        const std::string Own = ReadText(Tree / "DATA" / ("OPT" + std::to_string(i + 1) + ".TXT"));
        EXPECT_EQ(Own.rfind("  " + Captions[i] + "\r\n", 0), 0u) << "OPT" << i + 1 << ".TXT";
    }
}

TEST_F(PayloadWiper, DefaultIniIsTheElevenLineFormatWithDefaults) {
    const bool Defaults[11] = {true,  false, false, true,  true, true,
                               false, false, true,  false, true};
    std::string Expected;
    for (int n = 1; n <= 11; ++n)
        Expected += "O" + std::to_string(n) + "=" + (Defaults[n - 1] ? "1" : "0") + "\r\n";
    const std::string Ini = ReadText(Tree / "DATA" / "PURGIT.INI");
    EXPECT_EQ(Ini.size(), 68u);
    EXPECT_EQ(Ini, Expected);
}

TEST_F(PayloadWiper, TreeHoldsThirtyThreeDosFilesWithCrLfTextWithinEightyColumns) {
    const auto Files = FilesUnder(Tree);
    EXPECT_EQ(Files.size(), 33u);
    std::set<std::string> Names;
    for (const auto& Path : Files) {
        const std::string Relative = fs::relative(Path, Tree).generic_string();
        SCOPED_TRACE(Relative);
        // FAT 8.3 names, upper case, unique without regard to case.
        const std::string Stem = Path.stem().string(), Ext = Path.extension().string();
        EXPECT_TRUE(Stem.size() >= 1 && Stem.size() <= 8 && Ext.size() >= 2 && Ext.size() <= 4);
        for (char c : Stem + Ext.substr(1))
            EXPECT_TRUE(isupper(uint8_t(c)) || isdigit(uint8_t(c)));
        EXPECT_TRUE(Names.insert(Relative).second);
        EXPECT_GT(fs::file_size(Path), 0u);
        if (!IsText(Path)) continue;
        const std::string Text = ReadText(Path);
        ASSERT_GE(Text.size(), 2u);
        EXPECT_EQ(Text.substr(Text.size() - 2), "\r\n");
        size_t LineStart = 0;
        for (size_t i = 0; i < Text.size(); ++i) {
            const uint8_t c = uint8_t(Text[i]);
            if (c == '\r') {
                ASSERT_TRUE(i + 1 < Text.size() && Text[i + 1] == '\n') << "lone CR at " << i;
                EXPECT_LE(i - LineStart, 80u) << "line at byte " << LineStart;
                LineStart = i + 2;
                ++i;
                continue;
            }
            ASSERT_NE(c, '\n') << "LF without CR at " << i;
            ASSERT_TRUE(c >= 32 && c < 127) << "byte " << int(c) << " at " << i;
        }
    }
}

TEST_F(PayloadWiper, ItemListNamesEveryFileOfTheTreeOnce) {
    // The packer reads this list; every line must point at a built file.
    const std::string List = ReadText(Tree.parent_path() / "items.tsv");
    std::istringstream In(List);
    std::string Line;
    std::set<std::string> Items;
    std::vector<std::string> Order;
    while (std::getline(In, Line)) {
        const auto Tab1 = Line.find('\t'), Tab2 = Line.find('\t', Tab1 + 1);
        ASSERT_NE(Tab2, std::string::npos) << Line;
        EXPECT_EQ(Line.substr(0, Tab1), "1");
        const std::string Name = Line.substr(Tab1 + 1, Tab2 - Tab1 - 1);
        const fs::path Source = Line.substr(Tab2 + 1);
        std::string Relative = Name.substr(std::string("Purgit\\").size());
        std::replace(Relative.begin(), Relative.end(), '\\', '/');
        EXPECT_EQ(Name.rfind("Purgit\\", 0), 0u) << Name;
        EXPECT_TRUE(fs::equivalent(Source, Tree / Relative)) << Name;
        EXPECT_TRUE(Items.insert(Name).second) << Name;
        Order.push_back(Name);
    }
    EXPECT_EQ(Items.size(), 33u);
    ASSERT_FALSE(Order.empty());
    EXPECT_EQ(Order.front(), "Purgit\\PURGIT.EXE");
}

TEST_F(PayloadWiper, ProgramsCarryConsistentMzHeaders) {
    for (const char* Name : {"PURGIT.EXE", "DATA/CTMOUSE.EXE"}) {
        SCOPED_TRACE(Name);
        const auto Exe = ReadFileBytes(Tree / Name);
        ASSERT_GE(Exe.size(), 64u);
        EXPECT_EQ(Exe[0], 'M');
        EXPECT_EQ(Exe[1], 'Z');
        const uint32_t LastPage = GetLE16(&Exe[2]), Pages = GetLE16(&Exe[4]);
        EXPECT_EQ((Pages - (LastPage ? 1 : 0)) * 512 + LastPage, Exe.size());
        EXPECT_EQ(GetLE16(&Exe[6]), 0u); // no relocations needed
        const uint32_t Header = GetLE16(&Exe[8]) * 16u;
        const uint32_t Image = uint32_t(Exe.size()) - Header;
        const uint32_t MinParas = GetLE16(&Exe[10]);
        const uint32_t Memory = ((Image + 15) / 16 + MinParas) * 16; // bytes from load segment
        const uint32_t Ss = GetLE16(&Exe[14]), Sp = GetLE16(&Exe[16]);
        const uint32_t Ip = GetLE16(&Exe[20]), Cs = GetLE16(&Exe[22]);
        EXPECT_EQ(Cs, 0u);
        EXPECT_LT(Ip, Image);
        EXPECT_EQ(Sp % 2, 0u);
        // The stack lies in memory DOS hands over, above the image.
        EXPECT_GE(Ss * 16 + Sp, Image);
        EXPECT_LE(Ss * 16 + Sp, Memory);
        EXPECT_LE(Memory, 65536u);
    }
    // PURGIT's tiny model needs the whole 64 KB segment.
    const auto Purgit = ReadFileBytes(Tree / "PURGIT.EXE");
    const uint32_t Image = uint32_t(Purgit.size()) - GetLE16(&Purgit[8]) * 16u;
    EXPECT_EQ((Image + 15) / 16 + GetLE16(&Purgit[10]), 0x1000u);
    EXPECT_EQ(GetLE16(&Purgit[16]), 0xFFFEu);

    const std::string Text(Purgit.begin(), Purgit.end());
    EXPECT_NE(Text.find("Corvane Purgex 2005"), std::string::npos);
}
