#include "LinuxGuest.h"

#if defined(PURGEX_HOST_CHECKS) && !defined(_WIN32)
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>

#include "TestSupport.h"

namespace fs = std::filesystem;

namespace testing_support {

namespace {

const std::string BeginMarker = "=== PURGEX GUEST OUTPUT BEGIN ===\n";
const std::string EndMarker = "=== PURGEX GUEST OUTPUT END status=";

// "6.1.0-57-amd64" after "6.1.0-9-amd64": numbers compare as numbers.
bool VersionBefore(const std::string& A, const std::string& B) {
    size_t i = 0, j = 0;
    while (i < A.size() && j < B.size()) {
        if (std::isdigit(static_cast<unsigned char>(A[i])) &&
            std::isdigit(static_cast<unsigned char>(B[j]))) {
            size_t EndA = i, EndB = j;
            while (EndA < A.size() && std::isdigit(static_cast<unsigned char>(A[EndA])))
                ++EndA;
            while (EndB < B.size() && std::isdigit(static_cast<unsigned char>(B[EndB])))
                ++EndB;
            const unsigned long long NumberA = std::stoull(A.substr(i, EndA - i));
            const unsigned long long NumberB = std::stoull(B.substr(j, EndB - j));
            if (NumberA != NumberB) return NumberA < NumberB;
            i = EndA;
            j = EndB;
        } else {
            if (A[i] != B[j]) return A[i] < B[j];
            ++i;
            ++j;
        }
    }
    return A.size() - i < B.size() - j;
}

// The newest installed kernel that has its modules beside it, or "".
std::string KernelVersion() {
    std::string Best;
    std::error_code Error;
    for (const auto& Entry : fs::directory_iterator("/boot", Error)) {
        const std::string Name = Entry.path().filename().string();
        if (Name.rfind("vmlinuz-", 0) != 0) continue;
        const std::string Version = Name.substr(8);
        if (access(Entry.path().c_str(), R_OK) != 0) continue;
        if (!fs::exists("/lib/modules/" + Version + "/modules.dep")) continue;
        if (Best.empty() || VersionBefore(Best, Version)) Best = Version;
    }
    return Best;
}

bool OnPath(const std::string& Program) {
    return RunCommand("command -v " + Program + " >/dev/null").ExitCode == 0;
}

std::string ReadText(const fs::path& Path) {
    std::ifstream In(Path, std::ios::binary);
    std::string Text{std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>()};
    std::erase(Text, '\r');
    return Text;
}

std::string Tail(const std::string& Text, size_t Lines) {
    size_t At = Text.size();
    while (Lines-- > 0 && At > 0) {
        const size_t Newline = Text.rfind('\n', At - 1);
        if (Newline == std::string::npos) return Text;
        At = Newline;
    }
    return Text.substr(At);
}

// QEMU's devices and drives for Disks; empty with Problem set when they do
// not fit the machine.
std::string DiskArguments(const std::vector<TGuestDisk>& Disks, std::string& Problem) {
    std::string Arguments, Controllers;
    int Ide = 0, Ahci = 0;
    bool Xhci = false, Ehci = false, Scsi = false;
    for (size_t i = 0; i < Disks.size(); ++i) {
        const TGuestDisk& Disk = Disks[i];
        const std::string Id = "disk" + std::to_string(i);
        const bool Cd =
            Disk.Kind == TGuestDiskKind::IdeCdrom || Disk.Kind == TGuestDiskKind::ScsiCdrom;
        if (Disk.Image.empty() && !Cd) {
            Problem = "disk " + std::to_string(i) + " has no image";
            return "";
        }
        std::string Drive = " -drive if=none,id=" + Id;
        if (!Disk.Image.empty()) Drive += ",format=raw,file=" + ShellQuote(Disk.Image);
        if (Cd) Drive += ",media=cdrom";
        if (Cd || Disk.ReadOnly) Drive += ",readonly=on";
        Arguments += Drive;
        switch (Disk.Kind) {
        case TGuestDiskKind::UsbXhci:
        case TGuestDiskKind::UsbEhci: {
            const bool OnXhci = Disk.Kind == TGuestDiskKind::UsbXhci;
            (OnXhci ? Xhci : Ehci) = true;
            Arguments += std::string(" -device usb-storage,bus=") + (OnXhci ? "xhci" : "ehci") +
                         ".0,drive=" + Id + ",removable=" + (Disk.Removable ? "on" : "off");
            break;
        }
        case TGuestDiskKind::IdeDisk:
        case TGuestDiskKind::IdeCdrom:
            if (Ide == 4) {
                Problem = "more than four IDE drives";
                return "";
            }
            Arguments += std::string(" -device ") +
                         (Disk.Kind == TGuestDiskKind::IdeDisk ? "ide-hd" : "ide-cd") +
                         ",drive=" + Id + ",bus=ide." + std::to_string(Ide / 2) +
                         ",unit=" + std::to_string(Ide % 2);
            ++Ide;
            break;
        case TGuestDiskKind::VirtioDisk:
            Arguments += " -device virtio-blk-pci,drive=" + Id;
            break;
        case TGuestDiskKind::AhciDisk:
            Arguments += " -device ide-hd,drive=" + Id + ",bus=ahci." + std::to_string(Ahci++);
            break;
        case TGuestDiskKind::NvmeDisk:
            Arguments += " -device nvme,drive=" + Id + ",serial=" + Id;
            break;
        case TGuestDiskKind::ScsiCdrom:
            Scsi = true;
            Arguments += " -device scsi-cd,bus=scsi.0,drive=" + Id;
            break;
        }
    }
    if (Xhci) Controllers += " -device qemu-xhci,id=xhci";
    if (Ehci) Controllers += " -device usb-ehci,id=ehci";
    if (Scsi) Controllers += " -device virtio-scsi-pci,id=scsi";
    if (Ahci) Controllers += " -device ich9-ahci,id=ahci";
    return Controllers + Arguments;
}

} // namespace

std::string LinuxGuestUnavailable() {
    if (!OnPath("qemu-system-x86_64"))
        return "qemu-system-x86_64 is not installed (qemu-system-x86)";
    if (KernelVersion().empty())
        return "no readable /boot/vmlinuz-* with its /lib/modules (linux-image-amd64)";
    if (RunCommand("test -x /bin/busybox && ! ldd /bin/busybox").ExitCode != 0)
        return "/bin/busybox is not the static busybox (busybox-static)";
    if (!OnPath("cpio")) return "cpio is not installed";
    if (!OnPath("modprobe")) return "modprobe is not installed (kmod)";
    return "";
}

TGuestResult RunInGuest(const std::string& Script, const std::vector<TGuestDisk>& Disks,
                        int TimeoutSeconds) {
    TGuestResult Result;
    const std::string Version = KernelVersion();
    if (Version.empty()) {
        Result.Problem = "no kernel: " + LinuxGuestUnavailable();
        return Result;
    }
    const std::string Devices = DiskArguments(Disks, Result.Problem);
    if (!Result.Problem.empty()) return Result;

    TScratchDir Dir;
    const std::string ScriptFile = (Dir / "script.sh").string();
    const std::string Initramfs = (Dir / "initramfs.cpio").string();
    const std::string ConsoleFile = (Dir / "console.log").string();
    const std::string OutputFile = (Dir / "output.log").string();
    WriteFileBytes(ScriptFile, Script);

    const TCommandResult Packed =
        RunCommand("TMPDIR=" + ShellQuote(Dir.Path().string()) + " " +
                   ShellQuote(PURGEX_GUEST_DIR "/make-initramfs.sh") + " " + ShellQuote(Initramfs) +
                   " " + ShellQuote(Version) + " " + ShellQuote(PURGEX_CLI) + " " +
                   ShellQuote(ScriptFile) + " " + std::to_string(Disks.size()));
    if (Packed.ExitCode != 0) {
        Result.Problem = "packing the initramfs failed: " + Packed.Output;
        return Result;
    }

    // The ELF kernel boots through its PVH entry, several times sooner under
    // TCG than the compressed one; a kernel without that entry boots as is.
    std::string Kernel = (Dir / "vmlinux").string();
    if (RunCommand("python3 " + ShellQuote(PURGEX_GUEST_DIR "/extract-vmlinux.py") + " " +
                   ShellQuote("/boot/vmlinuz-" + Version) + " " + ShellQuote(Kernel))
            .ExitCode != 0)
        Kernel = "/boot/vmlinuz-" + Version;

    // Only the drives asked for (no default CD drive that /init would count
    // among the disks it waits for).
    // /dev/kvm is no promise that KVM runs a guest (nested set-ups fail or
    // hang), so KVM is asked for, never guessed.
    const char* Accel = std::getenv("PURGEX_GUEST_ACCEL");
    const bool Kvm = Accel && std::string(Accel) == "kvm";
    const std::string Command = "timeout -s KILL " + std::to_string(TimeoutSeconds) +
                                " qemu-system-x86_64 -M pc -nodefaults -m 384 -smp 1 -accel " +
                                (Kvm ? "kvm" : "tcg") + " -kernel " + ShellQuote(Kernel) +
                                " -initrd " + ShellQuote(Initramfs) +
                                // Under emulation the TSC clock now and then leaves the
                                // guest idle for good in the middle of I/O (a quarter of
                                // the runs of a 4 GiB dd); the other timers never did.
                                " -append 'console=ttyS0 panic=-1 quiet tsc=unstable'" +
                                " -no-reboot -display none -monitor none -nic none -serial file:" +
                                ShellQuote(ConsoleFile) +
                                " -serial file:" + ShellQuote(OutputFile) + Devices + " </dev/null";
    const TCommandResult Qemu = RunCommand(Command);
    Result.Console = ReadText(ConsoleFile);
    const std::string Output = ReadText(OutputFile);
    const size_t Begin = Output.find(BeginMarker);
    const size_t End = Output.rfind(EndMarker);
    if (Begin == std::string::npos || End == std::string::npos || End < Begin) {
        Result.Problem =
            Qemu.ExitCode == 137
                ? "the guest did not finish in " + std::to_string(TimeoutSeconds) + " s"
                : "the guest ended without finishing the script (QEMU: " + Qemu.Output + ")";
        Result.Problem += "; output so far:\n" + Output + "\nconsole:" + Tail(Result.Console, 20);
        return Result;
    }
    Result.Output = Output.substr(Begin + BeginMarker.size(), End - Begin - BeginMarker.size());
    Result.ExitStatus = std::atoi(Output.c_str() + End + EndMarker.size());
    Result.Ran = true;
    return Result;
}

} // namespace testing_support

#else

namespace testing_support {
std::string LinuxGuestUnavailable() {
    return "the Linux guest runs in the native build only";
}
TGuestResult RunInGuest(const std::string&, const std::vector<TGuestDisk>&, int) {
    TGuestResult Result;
    Result.Problem = LinuxGuestUnavailable();
    return Result;
}
} // namespace testing_support

#endif
