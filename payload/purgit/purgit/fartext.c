/* Text kept outside the program's segment while the run goes on (the
   report and the erase record), in blocks of DOS memory, and written to a
   file at the end. */
#include "dos.h"
#include "purgit.h"

void FarTextClear(struct TFarText* s, uint16_t paragraphs) {
    s->length = 0;
    s->lost = 0;
    if (s->seg) return;
    struct TRegs r = {0};
    r.ax = 0x4800;
    r.bx = paragraphs;
    if (Int21(&r))
        s->lost = 1;
    else
        s->seg = r.ax, s->limit = paragraphs > 0xFFF ? 0xFFF0u : (uint16_t)(paragraphs * 16);
}

void FarTextAdd(struct TFarText* s, const char* text, unsigned n) {
    if (!s->seg) return;
    if (n > (unsigned)(s->limit - s->length)) {
        n = s->limit - s->length; /* what fits stays */
        s->lost = 1;
    }
    FarPut(s->seg, s->length, text, n);
    s->length = (uint16_t)(s->length + n);
}

unsigned FarTextSave(const struct TFarText* s, const char* path, int whole) {
    if (!s->seg || (whole && s->lost)) return 0x08; /* DOS's "not enough memory" */
    uint16_t handle, written;
    unsigned error = Dos(0x3C00, 0, 0, path, &handle);
    if (error) return error;
    /* Through the scratch text: DOS writes from our segment. */
    for (uint16_t at = 0; at < s->length && !error;) {
        const unsigned n = s->length - at < SCRATCH_LIMIT ? s->length - at : SCRATCH_LIMIT;
        FarGet(ScratchText, s->seg, at, n);
        error = Dos(0x4000, handle, (uint16_t)n, ScratchText, &written);
        if (!error && written != n) error = 0x27; /* disk full */
        at = (uint16_t)(at + n);
    }
    const unsigned closing = Dos(0x3E00, handle, 0, 0, 0);
    if (!error) error = closing;
    if (error) Dos(0x4100, 0, 0, path, 0); /* nothing half written left behind */
    return error;
}

static struct TFarText Report, Record;

void ReportClear(void) {
    FarTextClear(&Report, 0x1000);
}
void ReportBytes(const char* s, unsigned n) {
    FarTextAdd(&Report, s, n);
}
unsigned ReportSave(const char* path) {
    return FarTextSave(&Report, path, 0);
}
void RecordClear(void) {
    FarTextClear(&Record, 0x1000);
}
void RecordBytes(const char* s, unsigned n) {
    FarTextAdd(&Record, s, n);
}
unsigned RecordSave(const char* path) {
    return FarTextSave(&Record, path, 1);
}
