#include "platform/StickChecks.h"

#include <cstdio>

namespace {

std::string Joined(const std::vector<std::string>& Parts) {
    std::string Text;
    for (const std::string& Part : Parts)
        Text += (Text.empty() ? "" : ", ") + Part;
    return Text;
}

} // namespace

std::string StickRefusal(const TStickDevice& Device, bool AnyDisk, bool MountsRefused) {
    if (Device.ImageFile) return Device.ReadOnly ? "is read-only" : "";
    if (Device.SystemDisk)
        return "holds the running system" +
               (Device.MountPoints.empty() ? "" : " (" + Joined(Device.MountPoints) + ")") +
               " and is never written";
    if (MountsRefused && !Device.MountPoints.empty())
        return "has file systems mounted at " + Joined(Device.MountPoints) + "; unmount them first";
    if (Device.ReadOnly) return "is read-only (write-protected)";
    if (Device.Bytes == 0) return "holds no medium";
    if (!Device.Removable && !Device.Usb && !AnyDisk)
        return "is neither removable nor attached through USB; such a disk is written only when "
               "asked for explicitly";
    return "";
}

bool VolumesLockedForWrite(const TStickDevice& Device) {
    return Device.Node.rfind("\\\\.\\", 0) == 0;
}

std::string StickSizeText(uint64_t Bytes) {
    char Text[32];
    if (Bytes >= 1000000000ull)
        std::snprintf(Text, sizeof Text, "%.1f GB", double(Bytes) / 1e9);
    else
        std::snprintf(Text, sizeof Text, "%llu MB",
                      static_cast<unsigned long long>(Bytes / 1000000));
    return Text;
}

std::string StickName(const TStickDevice& Device) {
    std::string Name = Device.Vendor;
    if (!Device.Model.empty()) Name += (Name.empty() ? "" : " ") + Device.Model;
    return Name.empty() ? "(no name)" : Name;
}
