#include "report/EraseRecord.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <set>

namespace {

struct TSectionRule {
    std::vector<std::string> Required;
    std::vector<std::string> Optional; // required when the pass was read back
    std::vector<std::string> Extra;    // may be there (PURGIT.EFI's purge)
};

const TSectionRule RecordRule{{"format", "wiper", "started", "parameters", "options", "method",
                               "method_name", "method_source", "method_passes", "verification",
                               "generator", "direction", "disks"},
                              {},
                              {"purge"}};
const TSectionRule MachineRule{{"manufacturer", "product", "serial", "uuid", "smbios"}, {}, {}};
const TSectionRule DiskRule{
    {"bios", "bus", "model", "serial", "sectors", "sector_bytes", "started"}, {}, {"capabilities"}};
const TSectionRule PassRule{
    {"pattern", "started", "ended", "sectors", "complete", "write_errors", "verify", "errors"},
    {"verify_ended", "read_errors", "mismatches"},
    {}};
const TSectionRule ResultRule{{"ended", "passes_done", "passes_planned", "verified_passes",
                               "write_errors", "read_errors", "mismatches", "partition", "path",
                               "outcome", "reason"},
                              {},
                              {"purge", "purge_check"}};
const TSectionRule EndRule{{"ended", "results"}, {}, {}};

const std::set<std::string> NumberKeys{"format",         "method_passes",   "disks",
                                       "sectors",        "sector_bytes",    "write_errors",
                                       "read_errors",    "mismatches",      "passes_done",
                                       "passes_planned", "verified_passes", "results"};

const std::map<std::string, std::set<std::string>> Choices{
    {"complete", {"yes", "no"}},
    {"verify", {"none", "passed", "failed", "incomplete"}},
    {"outcome", {"erased", "erased with errors", "stopped", "failed", "purged"}},
    {"partition", {"none", "written", "failed"}},
    {"verification", {"none", "last pass", "every pass", "marker sectors"}},
    {"generator", {"ISAAC", "xorshift128"}},
    {"direction", {"first to last", "last to first"}}};

std::optional<uint32_t> Decimal(const std::string& Text) {
    if (Text.empty() || Text.size() > 10) return std::nullopt;
    uint64_t Value = 0;
    for (char c : Text) {
        if (c < '0' || c > '9') return std::nullopt;
        Value = Value * 10 + unsigned(c - '0');
    }
    if (Value > 0xFFFFFFFFull || (Text.size() > 1 && Text[0] == '0')) return std::nullopt;
    return uint32_t(Value);
}

std::optional<uint64_t> Decimal64(const std::string& Text) {
    if (Text.empty() || Text.size() > 19 || (Text.size() > 1 && Text[0] == '0'))
        return std::nullopt;
    uint64_t Value = 0;
    for (char c : Text) {
        if (c < '0' || c > '9') return std::nullopt;
        Value = Value * 10 + unsigned(c - '0');
    }
    return Value;
}

// "[disk 2]" -> kind "disk", N 2; "[pass 2.3]" -> "pass", 2, 3.
struct THeader {
    std::string Kind;
    unsigned N = 0, M = 0;
};

std::optional<THeader> ParseHeader(const std::string& Line) {
    if (Line.size() < 3 || Line.front() != '[' || Line.back() != ']') return std::nullopt;
    const std::string Inner = Line.substr(1, Line.size() - 2);
    THeader H;
    const auto Space = Inner.find(' ');
    H.Kind = Inner.substr(0, Space);
    const bool Numbered = H.Kind == "disk" || H.Kind == "result" || H.Kind == "pass";
    if (!Numbered) {
        if (Space != std::string::npos) return std::nullopt;
        if (H.Kind != "record" && H.Kind != "machine" && H.Kind != "end") return std::nullopt;
        return H;
    }
    if (Space == std::string::npos) return std::nullopt;
    std::string Number = Inner.substr(Space + 1);
    std::string Second;
    if (H.Kind == "pass") {
        const auto Dot = Number.find('.');
        if (Dot == std::string::npos) return std::nullopt;
        Second = Number.substr(Dot + 1);
        Number = Number.substr(0, Dot);
    }
    const auto N = Decimal(Number);
    if (!N || *N < 1 || *N > 99) return std::nullopt;
    H.N = *N;
    if (H.Kind == "pass") {
        const auto M = Decimal(Second);
        if (!M || *M < 1 || *M > 100) return std::nullopt;
        H.M = *M;
    }
    return H;
}

const TSectionRule& RuleOf(const std::string& Kind) {
    if (Kind == "record") return RecordRule;
    if (Kind == "machine") return MachineRule;
    if (Kind == "disk") return DiskRule;
    if (Kind == "pass") return PassRule;
    if (Kind == "result") return ResultRule;
    return EndRule;
}

class TParser {
public:
    TParser(const std::string& File, TRecordFault& Fault) : Fault(Fault) { Fault.File = File; }

    bool Fail(unsigned Line, std::string Message) {
        Fault.Line = Line;
        Fault.Message = std::move(Message);
        return false;
    }

    bool Run(std::string_view Bytes, TEraseRecord& Out);

private:
    bool CloseSection();
    bool Open(const THeader& H, unsigned Line, TEraseRecord& Out);

    TRecordFault& Fault;
    TRecordSection* Current = nullptr;
    std::string CurrentName, CurrentKind;
    unsigned CurrentLine = 0;
};

bool TParser::CloseSection() {
    if (!Current) return true;
    const TSectionRule& Rule = RuleOf(CurrentKind);
    for (const auto& Key : Rule.Required)
        if (!Current->count(Key))
            return Fail(CurrentLine, "the key '" + Key + "' is missing from " + CurrentName);
    const bool ReadBack = CurrentKind == "pass" && Current->at("verify") != "none";
    for (const auto& Key : Rule.Optional)
        if (ReadBack && !Current->count(Key))
            return Fail(CurrentLine, "the key '" + Key + "' is missing from " + CurrentName +
                                         ", which was read back");
        else if (!ReadBack && Current->count(Key))
            return Fail(CurrentLine, CurrentName + " has '" + Key + "' but was not read back");
    return true;
}

bool TParser::Open(const THeader& H, unsigned Line, TEraseRecord& Out) {
    if (!CloseSection()) return false;
    CurrentLine = Line;
    CurrentKind = H.Kind;
    CurrentName = "[" + H.Kind + (H.N ? " " + std::to_string(H.N) : "") +
                  (H.M ? "." + std::to_string(H.M) : "") + "]";
    // Order: [record], [machine], then per disk [disk N], its passes and
    // [result N], then [end].
    const bool HaveRecord = !Out.Record.empty(), HaveMachine = !Out.Machine.empty();
    auto Wrong = [&] { return Fail(Line, CurrentName + " is out of place"); };
    if (H.Kind == "record") {
        if (Line != 1) return Wrong();
        Current = &Out.Record;
    } else if (H.Kind == "machine") {
        if (!HaveRecord || HaveMachine || !Out.Disks.empty()) return Wrong();
        Current = &Out.Machine;
    } else if (H.Kind == "disk") {
        if (!HaveMachine || (!Out.Disks.empty() && Out.Disks.back().Result.empty())) return Wrong();
        if (!Out.Disks.empty() && H.N <= Out.Disks.back().Number) return Wrong();
        Out.Disks.push_back({});
        Out.Disks.back().Number = H.N;
        Current = &Out.Disks.back().Disk;
    } else if (H.Kind == "pass") {
        if (Out.Disks.empty() || Out.Disks.back().Number != H.N ||
            !Out.Disks.back().Result.empty() || Out.Disks.back().Passes.size() + 1 != H.M)
            return Wrong();
        Out.Disks.back().Passes.push_back({});
        Current = &Out.Disks.back().Passes.back().Keys;
    } else if (H.Kind == "result") {
        if (Out.Disks.empty() || Out.Disks.back().Number != H.N || !Out.Disks.back().Result.empty())
            return Wrong();
        Current = &Out.Disks.back().Result;
    } else {
        if (!HaveMachine || !Out.End.empty() ||
            (!Out.Disks.empty() && Out.Disks.back().Result.empty()))
            return Wrong();
        Current = &Out.End;
    }
    return true;
}

bool TParser::Run(std::string_view Bytes, TEraseRecord& Out) {
    if (Bytes.empty()) return Fail(0, "the file is empty");
    if (Bytes.size() > MaxRecordBytes)
        return Fail(0, "the file is larger than " + std::to_string(MaxRecordBytes) +
                           " bytes: not an erase record");
    // Lines end in CR LF; a file that stops inside a line was cut short.
    std::vector<std::pair<size_t, size_t>> Lines; // start, length without CR LF
    for (size_t At = 0; At < Bytes.size();) {
        const size_t End = Bytes.find('\n', At);
        const unsigned Number = unsigned(Lines.size() + 1);
        if (End == std::string_view::npos)
            return Fail(Number, "the record is truncated: its last line has no end");
        if (End == At || Bytes[End - 1] != '\r')
            return Fail(Number, "the line does not end in CR LF");
        Lines.emplace_back(At, End - 1 - At);
        At = End + 1;
    }
    const auto [LastStart, LastLength] = Lines.back();
    const std::string_view Last = Bytes.substr(LastStart, LastLength);
    const unsigned LastNumber = unsigned(Lines.size());
    constexpr std::string_view Prefix = "checksum=crc32:";
    if (Last.substr(0, Prefix.size()) != Prefix)
        return Fail(LastNumber, "the record is truncated: it does not end with its checksum line");
    const std::string_view Stated = Last.substr(Prefix.size());
    if (Stated.size() != 8 || !std::all_of(Stated.begin(), Stated.end(), [](char c) {
            return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
        }))
        return Fail(LastNumber, "the checksum is not 8 hex digits (capitals)");
    char Computed[9];
    std::snprintf(Computed, sizeof Computed, "%08X",
                  unsigned(RecordCrc32(Bytes.substr(0, LastStart))));
    if (Stated != Computed)
        return Fail(LastNumber, "wrong checksum: the record states " + std::string(Stated) +
                                    ", its lines give " + Computed +
                                    " (the record was damaged or edited)");
    Out.Checksum = "crc32:" + std::string(Stated);

    for (size_t i = 0; i + 1 < Lines.size(); ++i) {
        const unsigned Number = unsigned(i + 1);
        const std::string Line(Bytes.substr(Lines[i].first, Lines[i].second));
        for (unsigned char c : Line)
            if (c < 0x20 || c > 0x7E)
                return Fail(Number, "the line holds a byte that is not printable ASCII");
        if (!Line.empty() && Line[0] == '[') {
            const auto H = ParseHeader(Line);
            if (!H) return Fail(Number, "unknown section " + Line);
            if (!Open(*H, Number, Out)) return false;
            continue;
        }
        const auto Eq = Line.find('=');
        if (Eq == std::string::npos || Eq == 0)
            return Fail(Number, "the line is not of the form key=value");
        if (!Current) return Fail(Number, "a key before the first section");
        const std::string Key = Line.substr(0, Eq), Value = Line.substr(Eq + 1);
        if (Key.size() > 32)
            return Fail(Number, "unknown key '" + Key.substr(0, 32) + "...' in " + CurrentName);
        const TSectionRule& Rule = RuleOf(CurrentKind);
        if (std::find(Rule.Required.begin(), Rule.Required.end(), Key) == Rule.Required.end() &&
            std::find(Rule.Optional.begin(), Rule.Optional.end(), Key) == Rule.Optional.end() &&
            std::find(Rule.Extra.begin(), Rule.Extra.end(), Key) == Rule.Extra.end())
            return Fail(Number, "unknown key '" + Key + "' in " + CurrentName);
        if (Current->count(Key))
            return Fail(Number, "the key '" + Key + "' appears twice in " + CurrentName);
        if (Value.size() > MaxRecordValue)
            return Fail(Number, "the value of '" + Key + "' is longer than " +
                                    std::to_string(MaxRecordValue) + " characters");
        if (Value.empty()) return Fail(Number, "the value of '" + Key + "' is empty");
        // Sector counts of disks beyond 2 TB (the UEFI wiper's) take 64 bits.
        if (NumberKeys.count(Key) &&
            !(Key == "sectors" ? Decimal64(Value).has_value() : Decimal(Value).has_value()))
            return Fail(Number, "the value of '" + Key + "' is not a number: " + Value);
        const auto Choice = Choices.find(Key);
        if (Choice != Choices.end() && !Choice->second.count(Value))
            return Fail(Number, "the value of '" + Key + "' is not one of its words: " + Value);
        if (Key == "options" &&
            (Value.size() != 11 || Value.find_first_not_of("01") != std::string::npos))
            return Fail(Number, "options must be 11 digits 0 or 1");
        (*Current)[Key] = Value;
    }
    if (!CloseSection()) return false;
    if (Out.Record.empty()) return Fail(1, "the record does not start with [record]");
    if (Out.Record.at("format") != "1")
        return Fail(1, "format " + Out.Record.at("format") + " is not known to this reader");
    if (Out.End.empty()) return Fail(LastNumber, "the section [end] is missing");
    const uint32_t Disks = *Decimal(Out.Record.at("disks"));
    if (Out.Disks.size() != Disks || *Decimal(Out.End.at("results")) != Disks)
        return Fail(LastNumber, "the record announces " + std::to_string(Disks) +
                                    " disks but holds " + std::to_string(Out.Disks.size()));
    for (const auto& D : Out.Disks) {
        const auto& R = D.Result;
        const uint32_t Done = *Decimal(R.at("passes_done")),
                       Planned = *Decimal(R.at("passes_planned"));
        const uint32_t Errors = *Decimal(R.at("write_errors")) + *Decimal(R.at("read_errors")) +
                                *Decimal(R.at("mismatches"));
        if (Done > Planned || D.Passes.size() > Planned || D.Passes.size() < Done)
            return Fail(LastNumber,
                        "disk " + std::to_string(D.Number) + ": the passes do not add up");
        if (R.at("outcome") == "erased" && (Errors || Done != Planned))
            return Fail(LastNumber, "disk " + std::to_string(D.Number) +
                                        " is said to be erased but has errors or passes not done");
        // A purge counts only when its check passed.
        const auto Purge = R.find("purge"), Check = R.find("purge_check");
        if ((Purge == R.end()) != (Check == R.end()))
            return Fail(LastNumber, "disk " + std::to_string(D.Number) +
                                        ": purge and purge_check come together");
        if (R.at("outcome") == "purged" &&
            (Purge == R.end() || !Purge->second.ends_with(", checked") ||
             !Check->second.starts_with("checked") || !Out.Record.count("purge") || Errors))
            return Fail(LastNumber, "disk " + std::to_string(D.Number) +
                                        " is said to be purged but not checked");
    }
    return true;
}

} // namespace

std::string TRecordFault::Text() const {
    return File + (Line ? ":" + std::to_string(Line) : std::string()) + ": " + Message;
}

uint32_t RecordCrc32(std::string_view Bytes) {
    static const auto Table = [] {
        std::array<uint32_t, 256> T{};
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k)
                c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            T[n] = c;
        }
        return T;
    }();
    uint32_t Crc = 0xFFFFFFFFu;
    for (unsigned char b : Bytes)
        Crc = Table[(Crc ^ b) & 0xFF] ^ (Crc >> 8);
    return ~Crc;
}

std::optional<TEraseRecord> ParseEraseRecord(std::string_view Bytes, const std::string& File,
                                             TRecordFault& Fault) {
    TEraseRecord Record;
    Record.File = File;
    TParser Parser(File, Fault);
    if (!Parser.Run(Bytes, Record)) return std::nullopt;
    return Record;
}
