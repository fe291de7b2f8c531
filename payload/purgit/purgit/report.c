/* The report's text: a header, a part per disk, and the signature lines
   of a sanitization record. Where it is written is the platform's. */
#include "purgit.h"

/* The report grows in the platform's keeping, a line buffer at a time. */
static char LogBuffer[64];
struct TText Log = {LogBuffer, 0, sizeof LogBuffer};
static void LogFlush(struct TText* t) {
    ReportBytes(t->at, t->length);
    t->length = 0;
}
struct TResult Results[MAX_DISKS];
char LogPlace[80];

void TextNow(struct TText* t) {
    unsigned v[6];
    ClockNow(v);
    TextNumber(t, v[0]);
    TextChar(t, '-');
    TextNumberWidth(t, v[1], 2, '0');
    TextChar(t, '-');
    TextNumberWidth(t, v[2], 2, '0');
    TextChar(t, ' ');
    TextNumberWidth(t, v[3], 2, '0');
    TextChar(t, ':');
    TextNumberWidth(t, v[4], 2, '0');
    TextChar(t, ':');
    TextNumberWidth(t, v[5], 2, '0');
}

void Throughput(struct TText* t, const struct TResult* r, const struct TDisk* d) {
    const uint32_t kbps =
        r->ticks ? Div64(r->sectorsMoved * 91 * (DiskUnit(d) / 512), r->ticks * 10) : 0;
    TextTenths(t, kbps * 10 / 1024);
    TextAdd(t, " MB/s (");
    TextWide(t, r->sectorsMoved);
    TextAdd(t, " sectors written and read in ");
    TextDuration(t, r->ticks * 10 / 182);
    TextAdd(t, ", ");
    TextNumber(t, d->block);
    TextAdd(t, " sectors a request)");
}

void LogVerification(struct TText* t, const struct TResult* r) {
    if (!r->verifiedPasses) TextAdd(t, "not verified");
    else if (r->mismatches || r->readErrors) {
        TextAdd(t, "FAILED (");
        TextNumber(t, r->mismatches);
        TextAdd(t, " sectors differ, ");
        TextNumber(t, r->readErrors);
        TextAdd(t, " unreadable)");
    } else {
        TextAdd(t, "passed (");
        TextNumber(t, r->verifiedPasses);
        TextAdd(t, r->verifiedPasses == 1 ? " pass read back and compared)"
                                           : " passes read back and compared)");
    }
}

void LogDisk(unsigned i, const struct TMethod* m) {
    const struct TResult* r = &Results[i];
    const struct TDisk* d = &Disks[i];
    const int record = Options[O_RECORD_LOG];
    struct TText* t = &Log;
    if (record) TextAdd(t, "------------------------------------------------------------\r\n");
    TextAdd(t, record ? "MEDIA IDENTIFICATION\r\n  Disk:          " : "Disk:         ");
    TextDisk(t, i);
    TextAdd(t, record ? "\r\n  Model:         " : "\r\nModel:        ");
    TextAdd(t, d->model[0] ? d->model : "(not reported)");
    TextAdd(t, record ? "\r\n  Serial number: " : "\r\nSerial:       ");
    TextAdd(t, d->serial[0] ? d->serial : "(not reported)");
    TextAdd(t, record ? "\r\n  Capacity:      " : "\r\nCapacity:     ");
    TextNumber(t, d->sectors);
    TextAdd(t, " sectors of ");
    TextNumber(t, d->sectorBytes);
    TextAdd(t, " bytes (");
    TextSize(t, d->sectors, d->sectorBytes);
    TextChar(t, ')');
    if (d->cylinders) { /* none on UEFI */
        TextAdd(t, ", BIOS geometry ");
        TextNumber(t, d->cylinders);
        TextChar(t, '/');
        TextNumber(t, d->heads);
        TextChar(t, '/');
        TextNumber(t, d->perTrack);
    }
    TextAdd(t, record ? "\r\nSANITIZATION\r\n  Method:        " : "\r\nMethod:       ");
    TextAdd(t, m->name);
    TextAdd(t, " (");
    TextAdd(t, m->file);
    TextAdd(t, ")");
    if (record && m->source[0]) {
        TextAdd(t, "\r\n  Published in:  ");
        TextAdd(t, m->source);
    }
    TextAdd(t, record ? "\r\n  Passes:        " : "\r\nPasses:       ");
    TextNumber(t, r->passesDone);
    TextAdd(t, " of ");
    TextNumber(t, r->passesPlanned);
    TextAdd(t, " written\r\n");
    for (unsigned k = 0; k < r->passesPlanned; ++k) {
        TextAdd(t, record ? "    Pass " : "  Pass ");
        TextNumber(t, k + 1);
        TextAdd(t, ": ");
        if (k < m->passes) TextPattern(t, &m->pass[k]);
        else TextAdd(t, "00 (option 3)");
        TextAdd(t, k < r->passesDone ? "\r\n" : " - not written\r\n");
    }
    TextAdd(t, record ? "  Random data:   " : "Random data:  ");
    TextAdd(t, Options[O_ISAAC] ? "ISAAC" : "xorshift128");
    TextAdd(t, record ? "\r\n  Direction:     " : "\r\nDirection:    ");
    TextAdd(t, Options[O_BACKWARD] ? "last sector to first" : "first sector to last");
    TextAdd(t, record ? "\r\nVERIFICATION\r\n  Result:        " : "\r\nVerification: ");
    LogVerification(t, r);
    TextAdd(t, record ? "\r\nERRORS\r\n  Write errors:  " : "\r\nErrors:       ");
    TextNumber(t, r->writeErrors);
    TextAdd(t, record ? "\r\n  Read errors:   " : " write, ");
    TextNumber(t, r->readErrors);
    TextAdd(t, record ? "\r\n  Mismatches:    " : " read, ");
    TextNumber(t, r->mismatches);
    TextAdd(t, record ? "\r\n" : " verification\r\n");
    for (unsigned k = 0; k < r->listed; ++k) {
        TextAdd(t, record ? "    Sector " : "  Sector ");
        TextNumber(t, r->sector[k]);
        TextAdd(t, r->kind[k] == 'W' ? ": write error\r\n"
                   : r->kind[k] == 'R' ? ": read error\r\n"
                                       : ": differs from what was written\r\n");
    }
    const uint32_t all = r->writeErrors + r->readErrors + r->mismatches;
    if (all > r->listed) {
        TextAdd(t, "  (");
        TextNumber(t, all - r->listed);
        TextAdd(t, " more not listed)\r\n");
    }
    if (Options[O_PARTITION]) {
        TextAdd(t, record ? "  Partition:     " : "Partition:    ");
        TextAdd(t, r->partitioned ? "one primary partition over the disk written"
                   : r->partitionFailed ? "could NOT be written" : "not written");
        TextAdd(t, "\r\n");
    }
#ifdef PURGIT_UEFI
    PurgeReportDisk(t, i);
#endif
    TextAdd(t, record ? "  Throughput:    " : "Throughput:   ");
    Throughput(t, r, d);
    TextAdd(t, record ? "\r\n  Transfers:     " : "\r\nTransfers:    ");
    TextPath(t, d, 1);
    TextAdd(t, record ? "\r\n  RESULT:        " : "\r\nResult:       ");
    TextResult(t, r);
    TextAdd(t, "\r\n\r\n");
}

void LogStart(void) {
    Log.length = 0;
    ReportClear();
    TextSink(0, &Log, LogFlush);
    TextAdd(&Log, Options[O_RECORD_LOG] ? "Corvane Purgex 2005 - MEDIA SANITIZATION RECORD\r\n"
                                        : "Corvane Purgex 2005 - erase report\r\n");
    TextAdd(&Log, "Date and time: ");
    TextNow(&Log);
    TextAdd(&Log, "\r\nParameters:    ");
    TextAdd(&Log, Parameters[0] ? Parameters : "none");
    TextAdd(&Log, "\r\n\r\n");
}

void LogEnd(void) {
    if (Options[O_RECORD_LOG])
        TextAdd(&Log, "------------------------------------------------------------\r\n"
                      "Sanitized by (name):  ______________________________\r\n"
                      "Signature:            ______________________________\r\n"
                      "Date:                 ______________________________\r\n\r\n"
                      "Witness (name):       ______________________________\r\n"
                      "Signature:            ______________________________\r\n"
                      "Date:                 ______________________________\r\n");
    LogFlush(&Log);
}

