// The image recorder's read-back on arbitrary files: the first input byte
// picks where the image ends, the rest is split into the image and what the
// disk gives back. The recorder must name exactly the first differing
// 2,048-byte sector (or the end of the shorter one), put the file in place
// only when both agree, and never leave its temporary file behind.

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "FuzzTarget.h"
#include "base/UserInterface.h"
#include "fakes/FakePlatform.h"
#include "optical/ImageRecorder.h"

namespace {

// A disk that answers reads of the temporary file with other bytes.
class TForgetfulDisk : public TFakePlatform {
public:
    std::string ReadBack;
    std::unique_ptr<TStream> OpenFileRead(std::string_view Path) override {
        if (Path.find(".partial") == std::string_view::npos) return TFakePlatform::OpenFileRead(Path);
        return std::make_unique<TMemoryStream>(std::vector<uint8_t>(ReadBack.begin(), ReadBack.end()));
    }
};

class TFixedAnswers : public TUserInterface {
public:
    void MsgInfo(const std::string&) override {}
    int MsgRetryAbort(const std::string&) override { return 3; }
    int MsgAsk(TQuestion, const std::string&, const std::string&, const std::string&) override {
        return 1;
    }
    std::optional<std::string> ChooseSaveFile(const std::string&, const std::string&,
                                              const std::string&) override {
        return std::string("C:\\OUT.ISO");
    }
    std::optional<std::string> PickSystemFolder() override { return std::nullopt; }
};

} // namespace

PURGEX_FUZZ_TARGET(ReadBackFuzz) {
    if (Size == 0) return 0;
    Size = std::min<size_t>(Size, 4097); // up to 2 MB of image
    const size_t Rest = Size - 1;
    const size_t ImageLength = std::min<size_t>(Rest, size_t(Data[0]) * Rest / 255);
    // Short inputs stand for long files: every byte covers 512 bytes.
    std::vector<uint8_t> Image, Back;
    for (size_t i = 1; i < 1 + ImageLength; ++i) Image.insert(Image.end(), 512, Data[i]);
    for (size_t i = 1 + ImageLength; i < Size; ++i) Back.insert(Back.end(), 512, Data[i]);

    TForgetfulDisk Disk;
    Disk.Files["C:\\OUT.ISO"] = "what the user had";
    Disk.ReadBack.assign(Back.begin(), Back.end());
    TFixedAnswers Answers;
    TUserInterface* Previous = InstallUserInterface(&Answers);

    int64_t Expected = -1;
    const size_t Common = std::min(Image.size(), Back.size());
    for (size_t i = 0; i < Common && Expected < 0; ++i)
        if (Image[i] != Back[i]) Expected = int64_t(i / 2048);
    if (Expected < 0 && Image.size() != Back.size()) Expected = int64_t(Common / 2048);

    bool Saved = false;
    {
        TimageRecorder Recorder;
        Recorder.ReadBack = true;
        TDeviceStatus Status;
        PURGEX_FUZZ_CHECK(Recorder.CheckReady(Status));
        TMemoryStream Source(Image);
        TBurnError Error;
        Saved = Recorder.Burn(Error, Source, nullptr);
        PURGEX_FUZZ_CHECK(Recorder.DifferingSector == Expected);
    }
    InstallUserInterface(Previous);

    PURGEX_FUZZ_CHECK(Saved == (Expected < 0));
    PURGEX_FUZZ_CHECK(Disk.Files.size() == 1);
    const std::string& File = Disk.Files["C:\\OUT.ISO"];
    if (Saved) PURGEX_FUZZ_CHECK(File == std::string(Image.begin(), Image.end()));
    else PURGEX_FUZZ_CHECK(File == "what the user had");
    return 0;
}
