/* The erase record: key=value lines in sections, built while the run goes
   on and handed to the platform piece by piece (RecordBytes), which keeps
   them until the report is written. A CRC-32 of every byte before it ends
   the record. Nothing here calls the system: the platform gives the clock
   (TextNow) and the machine's identity (Machine). */
#include "purgit.h"

#ifndef PURGIT_VERSION
#define PURGIT_VERSION "0"
#endif

static void Flush(struct TText* t);
static char Buffer[96];
static struct TText Out = {Buffer, 0, sizeof Buffer};
static uint32_t Crc;
/* The time last written: where the next pass begins. */
static char Last[24];
/* The disk's counts at the last pass's end: a pass's counts are the growth
   since. passListed: the first sector noted in the open pass. */
static struct {
    uint32_t writeErrors, readErrors, mismatches;
    uint64_t moved;
    unsigned listed, passListed;
    int open, verified;
} Now;

static void Flush(struct TText* t) {
    (void)t;
    for (unsigned i = 0; i < Out.length; ++i) {
        Crc ^= (uint8_t)Buffer[i];
        for (unsigned k = 0; k < 8; ++k)
            Crc = Crc >> 1 ^ (0xEDB88320ul & -(Crc & 1));
    }
    RecordBytes(Buffer, Out.length);
    Out.length = 0;
}

static void Key(const char* key) {
    TextAdd(&Out, key);
    TextChar(&Out, '=');
}

static void End(void) {
    TextAdd(&Out, "\r\n");
    Flush(&Out);
}

/* Text from outside (models, SMBIOS, parameters): printable ASCII only, so
   a line stays one line. */
static void Value(const char* key, const char* s) {
    Key(key);
    if (!*s) TextAdd(&Out, "unknown");
    for (; *s; ++s)
        TextChar(&Out, *s >= ' ' && *s < 127 ? *s : '?');
    End();
}

static void Number(const char* key, TLba v) {
    Key(key);
    TextNumber(&Out, v);
    End();
}

static void Section(const char* name, unsigned n, int pass) {
    TextChar(&Out, '[');
    TextAdd(&Out, name);
    if (n) {
        TextChar(&Out, ' ');
        TextNumber(&Out, n);
    }
    if (pass) {
        TextChar(&Out, '.');
        TextNumber(&Out, (unsigned)pass);
    }
    TextChar(&Out, ']');
    End();
}

static void Time(const char* key) {
    Key(key);
    const unsigned from = Out.length;
    TextNow(&Out);
    unsigned n = Out.length - from;
    if (n >= sizeof Last) n = sizeof Last - 1;
    memcpy(Last, Out.at + from, n);
    Last[n] = 0;
    End();
}

void RecordStart(const struct TMethod* m, const char* parameters, unsigned disks) {
    Crc = 0xFFFFFFFFul;
    TextSink(1, &Out, Flush);
    Now.open = 0;
    Out.length = 0;
    Section("record", 0, 0);
    Number("format", 1);
    Value("wiper", "PURGIT " PURGIT_VERSION);
    Time("started");
    Value("parameters", parameters[0] ? parameters : "none");
    Key("options");
    for (unsigned i = 0; i < OPTION_COUNT; ++i)
        TextChar(&Out, (char)('0' + Options[i]));
    End();
    Value("method", m->file);
    Value("method_name", m->name);
    Value("method_source", m->source[0] ? m->source : "none");
    Number("method_passes", m->passes);
#ifdef PURGIT_UEFI
    if (!m->passes) Value("verification", "marker sectors"); /* a purge without an overwrite */
    else
#endif
    Value("verification", !Options[O_VERIFY]   ? "none"
                          : m->verify == V_ALL ? "every pass"
                                               : "last pass");
    Value("generator", Options[O_ISAAC] ? "ISAAC" : "xorshift128");
    Value("direction", Options[O_BACKWARD] ? "last to first" : "first to last");
    Number("disks", disks);
#ifdef PURGIT_UEFI
    PurgeRecordStart();
#endif
    Section("machine", 0, 0);
    Value("manufacturer", Machine.manufacturer);
    Value("product", Machine.product);
    Value("serial", Machine.serial);
    Value("uuid", Machine.uuid);
    Value("smbios", Machine.version);
}

void RecordDisk(unsigned index) {
    const struct TDisk* d = &Disks[index];
    Section("disk", index + 1, 0);
    Key("bios");
    TextHex2(&Out, d->drive);
    TextChar(&Out, 'h');
    End();
    Key("bus");
    TextBus(&Out, d);
    End();
    Value("model", d->model);
    Value("serial", d->serial);
    Number("sectors", d->sectors);
    Number("sector_bytes", d->sectorBytes);
#ifdef PURGIT_UEFI
    PurgeRecordDisk(index);
#endif
    Time("started");
    memset(&Now, 0, sizeof Now);
}

/* The sectors noted since the pass began, "700W 700V", or "none". */
static void Close(const struct TResult* r) {
    if (!Now.open) return;
    if (!Now.verified) Value("verify", "none");
    Key("errors");
    if (r->listed == Now.passListed) TextAdd(&Out, "none");
    for (unsigned k = Now.passListed; k < r->listed; ++k) {
        if (k > Now.passListed) TextChar(&Out, ' ');
        TextNumber(&Out, r->sector[k]);
        TextChar(&Out, r->kind[k]);
        Flush(&Out);
    }
    End();
    Now.open = 0;
}

void RecordPass(unsigned index, const struct TPass* p, unsigned pass, int verify, int outcome,
                const struct TResult* r) {
    if (!verify) {
        Close(r);
        Section("pass", index + 1, (int)pass + 1);
        Key("pattern");
        if (p->kind == P_FIXED) TextAdd(&Out, "fixed ");
        TextPattern(&Out, p);
        End();
        Now.open = 1;
        Now.verified = 0;
        Now.passListed = Now.listed;
        Key("started");
        TextAdd(&Out, Last);
        End();
        Time("ended");
        Number("sectors", (TLba)(r->sectorsMoved - Now.moved));
        Value("complete", outcome ? "no" : "yes");
        Number("write_errors", r->writeErrors - Now.writeErrors);
    } else {
        Now.verified = 1;
        const int failed = r->readErrors != Now.readErrors || r->mismatches != Now.mismatches;
        Value("verify", outcome ? "incomplete" : failed ? "failed" : "passed");
        Time("verify_ended");
        Number("read_errors", r->readErrors - Now.readErrors);
        Number("mismatches", r->mismatches - Now.mismatches);
    }
    Now.listed = r->listed;
    Now.writeErrors = r->writeErrors;
    Now.readErrors = r->readErrors;
    Now.mismatches = r->mismatches;
    Now.moved = r->sectorsMoved;
}

void RecordResult(unsigned index, const struct TResult* r) {
    Close(r);
    Section("result", index + 1, 0);
    Time("ended");
    Number("passes_done", r->passesDone);
    Number("passes_planned", r->passesPlanned);
    Number("verified_passes", r->verifiedPasses);
    Number("write_errors", r->writeErrors);
    Number("read_errors", r->readErrors);
    Number("mismatches", r->mismatches);
    Value("partition", r->partitioned ? "written" : r->partitionFailed ? "failed" : "none");
    Key("path");
    TextPath(&Out, &Disks[index], 0);
    End();
#ifdef PURGIT_UEFI
    if (PurgeRecordOutcome(index)) return;
#endif
    const uint32_t errors = r->writeErrors + r->readErrors + r->mismatches;
    Value("outcome", r->vanished || r->partial      ? "failed"
                     : r->stopped                   ? "stopped"
                     : errors || r->partitionFailed ? "erased with errors"
                                                    : "erased");
    Key("reason");
    if (r->vanished)
        TextAdd(&Out, "the disk no longer answers");
    else if (r->stopped)
        TextAdd(&Out, "stopped by the user");
    else if (r->partial)
        TextAdd(&Out, "sectors beyond 2^32 out of reach");
    else if (errors) {
        TextNumber(&Out, errors);
        TextAdd(&Out, " sectors failed");
    } else if (r->partitionFailed)
        TextAdd(&Out, "the partition table could not be written");
    else
        TextAdd(&Out, "none");
    End();
}

#ifdef PURGIT_UEFI
void RecordValue(const char* key, const char* s) {
    Value(key, s);
}
#endif

void RecordEnd(unsigned disks) {
    Section("end", 0, 0);
    Time("ended");
    Number("results", disks);
    /* The checksum line is not part of what it sums. */
    const uint32_t crc = ~Crc;
    TextAdd(&Out, "checksum=crc32:");
    for (int shift = 24; shift >= 0; shift -= 8)
        TextHex2(&Out, crc >> shift & 0xFF);
    TextAdd(&Out, "\r\n");
    RecordBytes(Buffer, Out.length);
    Out.length = 0;
}

/* --- the machine's identity ------------------------------------------------- */

/* Type 1 of the SMBIOS structure table (system information) gives
   manufacturer, product, serial number and UUID. */
struct TMachine Machine;

/* String k (from 1) of the structure at s, whose strings end at end. */
static void String(char* out, unsigned size, const uint8_t* s, const uint8_t* end, unsigned k) {
    const uint8_t* p = s + s[1];
    if (!k) return;
    while (--k && p < end) {
        while (p < end && *p)
            ++p;
        ++p;
    }
    unsigned n = 0;
    while (p < end && *p && n + 1 < size)
        out[n++] = (char)*p++;
    while (n && out[n - 1] == ' ')
        --n;
    out[n] = 0;
}

static void Uuid(const uint8_t* u, int swapped) {
    int zeros = 1, ones = 1;
    for (unsigned i = 0; i < 16; ++i) {
        zeros &= u[i] == 0;
        ones &= u[i] == 0xFF;
    }
    if (zeros || ones) return;
    /* From SMBIOS 2.6 on, the first three fields are little-endian. */
    static const uint8_t Order[2][16] = {{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15},
                                         {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15}};
    struct TText t = {Machine.uuid, 0, sizeof Machine.uuid};
    for (unsigned i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) TextChar(&t, '-');
        TextHex2(&t, u[Order[swapped][i]]);
    }
}

void MachineFromTable(const uint8_t* table, unsigned n, unsigned major, unsigned minor) {
    const uint8_t* const end = table + n;
    for (const uint8_t* s = table; s + 4 <= end && s[1] >= 4 && s + s[1] <= end;) {
        if (s[0] == 127) return; /* the table's end */
        if (s[0] == 1 && s[1] >= 8) {
            String(Machine.manufacturer, sizeof Machine.manufacturer, s, end, s[4]);
            String(Machine.product, sizeof Machine.product, s, end, s[5]);
            String(Machine.serial, sizeof Machine.serial, s, end, s[7]);
            if (s[1] >= 0x19) Uuid(s + 8, major > 2 || (major == 2 && minor >= 6));
            return;
        }
        const uint8_t* p = s + s[1];
        while (p + 1 < end && (p[0] || p[1]))
            ++p;
        s = p + 2;
    }
}
