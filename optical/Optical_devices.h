#pragma once
// Discovery of the CD/DVD drives: both transports enumerate, and one is
// chosen: ASPI when its library reports itself available, SPTI otherwise.
// Only CD/DVD drives (type 5) of the chosen transport are in Devices.

#include <memory>
#include <vector>

#include "optical/ASPI.h"
#include "optical/SPTI.h"

constexpr uint8_t TransportAspi = 0, TransportSpti = 1;

class TOpticalDevices {
public:
    TOpticalDevices();
    // 0 ASPI, 1 SPTI; any other value changes nothing.
    void SelectTransport(uint8_t Transport);
    int Count() const { return int(Devices.size()); }
    // What the wizard offers: the drives of Devices that write CD-R or
    // CD-RW, in discovery order.
    std::vector<TOpticalDevice*> Writers() const;

    std::unique_ptr<TASPIdevices> Aspi;
    std::unique_ptr<TSPTIdevices> Spti;
    std::vector<TOpticalDevice*> Devices; // owned by the lists above
    uint8_t Transport = TransportSpti;
};
