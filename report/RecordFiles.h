#pragma once
// Finding erase records: a record file, a folder of them (*.REC), or a disk
// or stick image (a raw file or device) whose FAT file system holds them in
// its root folder.

#include <string>
#include <vector>

struct TFoundRecord {
    std::string Name;  // for messages: the file, or "IMAGE:PURG0001.REC"
    std::string Bytes; // the record as read
};

struct TFoundRecords {
    std::vector<TFoundRecord> Records;
    std::vector<std::string> Problems; // "PATH: what was wrong", in order
};

void FindRecords(const std::string& Path, TFoundRecords& Found);

// The *.REC files in the root folder of the FAT12/16/32 volume in Image:
// one at sector 0 (a floppy or a stick without partitions) or the first FAT
// partition of an MBR. Answers false (Problem says why) when there is no
// such volume.
bool ReadImageRecords(const std::string& Image, std::vector<TFoundRecord>& Records,
                      std::string& Problem);
