#pragma once
// A simulated CD writer for the creation run: answers CheckReady as told,
// records every image it burns and reports burn progress like a drive.

#include <vector>

#include "optical/Optical_device.h"

class TFakeWriter : public TOpticalDevice {
public:
    TFakeWriter() {
        Name = "Fake Writer (TESTCO)";
        DeviceType = 5;
        WritesCdR = true;
    }

    // Answers of the next calls, used in order; when a list runs out the
    // last value stays.
    std::vector<bool> ReadyAnswers{true};
    std::vector<uint8_t> DiscStates{0};
    std::vector<bool> BurnAnswers{true};
    uint8_t FailingStep = 11;

    int CheckReadyCalls = 0;
    std::vector<std::vector<uint8_t>> Burned; // every image handed to a successful burn

    bool CheckReady(TDeviceStatus& Status) override {
        Status.DiscState = Pick(DiscStates, CheckReadyCalls);
        return Pick(ReadyAnswers, CheckReadyCalls++);
    }

    bool Burn(TBurnError& Error, TStream& Source, TBurningIO* Observer) override {
        std::vector<uint8_t> Image(size_t(Source.Size() - Source.Position()));
        Source.ReadBuffer(Image.data(), int64_t(Image.size()));
        if (Observer) {
            Observer->StageStarted(0, 0);
            Observer->Progress(0, 0.5, 0.25);
            Observer->Progress(1, 0.0, 0.5);
            Observer->Progress(3, 0.0, 0.5);
        }
        if (!Pick(BurnAnswers, BurnCalls++)) {
            Error.Step = FailingStep;
            return false;
        }
        Burned.push_back(std::move(Image));
        return true;
    }

private:
    template <class T> static T Pick(const std::vector<T>& Values, int Call) {
        return Values[std::min<size_t>(size_t(Call), Values.size() - 1)];
    }
    int BurnCalls = 0;
};
