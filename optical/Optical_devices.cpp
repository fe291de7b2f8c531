#include "optical/Optical_devices.h"

TOpticalDevices::TOpticalDevices()
    : Aspi(std::make_unique<TASPIdevices>()), Spti(std::make_unique<TSPTIdevices>()) {
    SelectTransport(Aspi->Available() ? TransportAspi : TransportSpti);
}

std::vector<TOpticalDevice*> TOpticalDevices::Writers() const {
    std::vector<TOpticalDevice*> Offered;
    for (TOpticalDevice* Device : Devices)
        if (Device->IsWriter()) Offered.push_back(Device);
    return Offered;
}

void TOpticalDevices::SelectTransport(uint8_t Chosen) {
    if (Chosen != TransportAspi && Chosen != TransportSpti) return;
    Transport = Chosen;
    Devices.clear();
    const auto Take = [&](auto& List) {
        for (auto& Device : List)
            if (Device->DeviceType == DeviceTypeCdRom) Devices.push_back(Device.get());
    };
    if (Chosen == TransportAspi)
        Take(Aspi->Devices);
    else
        Take(Spti->Devices);
}
