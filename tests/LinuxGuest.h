#pragma once
// A small Linux guest in QEMU (x86_64) to try the Linux device paths against
// a real kernel: Debian's kernel and storage modules, busybox-static and the
// built purgex, packed into an initramfs for each run by
// tests/guest/make-initramfs.sh. The guest's /init runs one shell script with
// the given disks attached and powers off. Native builds only.

#include <string>
#include <vector>

namespace testing_support {

enum class TGuestDiskKind {
    UsbXhci,    // usb-storage on a qemu-xhci controller
    UsbEhci,    // usb-storage on a usb-ehci controller
    IdeDisk,    // ide-hd on the PIIX IDE controller (at most four IDE drives in all)
    VirtioDisk, // virtio-blk-pci
    AhciDisk,   // ide-hd on an ich9-ahci controller (SATA)
    NvmeDisk,   // an nvme controller with the image as its namespace
    IdeCdrom,   // ide-cd
    ScsiCdrom,  // scsi-cd on virtio-scsi-pci
};

struct TGuestDisk {
    TGuestDiskKind Kind = TGuestDiskKind::UsbXhci;
    std::string Image;     // raw image file, written in place; empty: a CD drive with no disc
    bool Removable = true; // usb-storage only: the SCSI removable bit that sticks report
    bool ReadOnly = false;
};

struct TGuestResult {
    bool Ran = false;    // the script ran to its end in the guest
    int ExitStatus = -1; // the script's exit status
    std::string Output;  // what the script printed (stdout and stderr, no CRs)
    std::string Problem; // why it did not run
    std::string Console; // the guest kernel's console, for diagnosis
};

// Empty when the guest can run on this machine, else what is missing.
std::string LinuxGuestUnavailable();

// Boots the guest with Disks attached (in that order on their buses), runs
// Script with /bin/sh in /tmp as root, and returns what it printed and its
// exit status. /init waits (bounded) for one block device per disk before
// it starts the script. QEMU runs under TCG unless PURGEX_GUEST_ACCEL=kvm;
// the whole run is ended after TimeoutSeconds.
TGuestResult RunInGuest(const std::string& Script, const std::vector<TGuestDisk>& Disks,
                        int TimeoutSeconds = 300);

} // namespace testing_support

// Skips a test when the guest cannot run here, naming what is missing.
#define REQUIRE_LINUX_GUEST()                                                                      \
    do {                                                                                           \
        const std::string Missing = testing_support::LinuxGuestUnavailable();                      \
        if (!Missing.empty()) GTEST_SKIP() << "Linux guest unavailable: " << Missing;              \
    } while (false)
