#include "cli/StoreCommands.h"

#include <filesystem>
#include <fstream>
#include <iomanip>

#include "image/ExeData.h"

namespace fs = std::filesystem;

namespace {

const TExeDataBase* LoadChosenStore(const TStoreOptions& Options, std::ostream& Err) {
    const bool Disk = Options.Disk;
    if (!(Disk ? LoadDiskStore() : LoadCdStore())) {
        Err << "purgex: the embedded store " << (Disk ? "PURGXDSK" : "PURGXCD")
            << " is corrupt or missing\n";
        return nullptr;
    }
    return (Disk ? DiskStore : CdStore).get();
}

// An item name as a path below the destination; empty when the name would
// leave it (absolute, a drive, or a ".." part).
fs::path RelativeItemPath(const std::string& Name) {
    fs::path Result;
    size_t Start = 0;
    while (Start <= Name.size()) {
        size_t End = Name.find_first_of("\\/", Start);
        if (End == std::string::npos) End = Name.size();
        const std::string Part = Name.substr(Start, End - Start);
        if (Part.empty() || Part == "." || Part == ".." || Part.find(':') != std::string::npos)
            return {};
        Result /= Part;
        Start = End + 1;
    }
    return Result;
}

} // namespace

int StoreList(const TStoreOptions& Options, std::ostream& Out, std::ostream& Err) {
    const TExeDataBase* Store = LoadChosenStore(Options, Err);
    if (!Store) return 1;
    for (const auto& Item : Store->Items)
        Out << int(Item->ItemKind) << ' ' << std::setw(9) << Item->ItemData.Size() << ' '
            << Item->ItemName << '\n';
    return 0;
}

int StoreExtract(const TStoreOptions& Options, std::ostream& Out, std::ostream& Err) {
    const TExeDataBase* Store = LoadChosenStore(Options, Err);
    if (!Store) return 1;
    const fs::path Root(Options.Directory);
    int Written = 0;
    for (const auto& Item : Store->Items) {
        if (Item->ItemKind != 1) continue;
        const fs::path Relative = RelativeItemPath(Item->ItemName);
        if (Relative.empty()) {
            Err << "purgex: item name \"" << Item->ItemName << "\" is not a safe path\n";
            return 1;
        }
        const fs::path Target = Root / Relative;
        std::error_code Error;
        fs::create_directories(Target.parent_path(), Error);
        std::ofstream File(Target, std::ios::binary | std::ios::trunc);
        const auto& Bytes = Item->ItemData.Bytes();
        File.write(reinterpret_cast<const char*>(Bytes.data()), std::streamsize(Bytes.size()));
        if (!File.flush()) {
            Err << "purgex: cannot write " << Target.string() << "\n";
            return 1;
        }
        ++Written;
    }
    Out << Written << " items written to " << Root.string() << "\n";
    return 0;
}
