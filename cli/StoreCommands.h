#pragma once
// purgex store list / store extract.

#include <ostream>
#include <string>

struct TStoreOptions {
    bool Cd = false;
    bool Disk = false;
    std::string Directory;
};

int StoreList(const TStoreOptions& Options, std::ostream& Out, std::ostream& Err);
int StoreExtract(const TStoreOptions& Options, std::ostream& Out, std::ostream& Err);
