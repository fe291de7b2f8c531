#include "optical/Optical_device.h"

// The texts are shown to the user as they are, spelling included.
const std::array<std::string_view, 15> BurnMessages = {
    "No error",
    "Is not a CD-ROM/CD-RW device",
    "SCSI ERROR",
    "Device not ready",
    "The disc is not erasable",
    "Can't get write parameters",
    "Can't set write parameters",
    "Invalid track",
    "Can't read track information",
    "There is not enought free space on the disc",
    "Can't read buffer capacity",
    "Write error",
    "Synchronize cache error",
    "Can't close track",
    "Can't close session",
};

std::string_view BurnMessage(int Step) {
    if (Step < 0 || Step >= int(BurnMessages.size())) return "Unknown error";
    return BurnMessages[size_t(Step)];
}

const std::array<std::string_view, 13> DeviceTypeNames = {
    "Disk",    "Tape",    "Printer",       "Processor", "Worm", "CDROM", "Scanner",
    "Optical", "Changer", "Communication", "Invalid",   "Any",  "Other",
};

uint8_t MapDeviceType(uint8_t InquiryByte0) {
    if (InquiryByte0 < 10) return InquiryByte0;
    if (InquiryByte0 == 31) return 10;
    return 12;
}
