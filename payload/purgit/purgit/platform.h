/* What the wiper's core asks of the machine it runs on: transfer buffers,
   the disks, a text screen and keys, files, a clock and some entropy. The
   DOS layer (dos.c, doscon.c, disk.c, ata.c, logdrive.c) gives it through
   the BIOS and DOS, the UEFI layer (uefi/) through the firmware's
   protocols. */
#ifndef PURGIT_PLATFORM_H
#define PURGIT_PLATFORM_H

#include <stdint.h>

/* Transfer buffers: a real-mode segment on DOS (offsets stay inside it),
   memory of our own on UEFI. */
#ifdef PURGIT_UEFI
typedef uint8_t* TBuffer;
typedef uint32_t TOffset;
#else
typedef uint16_t TBuffer;
typedef uint16_t TOffset;
#define BufferPut FarPut
#define BufferCopy FarCopy
#define BufferEqual FarEqual
#define BufferRepeat FarRepeat
#define BufferXorshift FarXorshift
#define BufferInvert FarInvert
#endif
/* The buffer that starts the given number of sectors into b. */
#ifdef PURGIT_UEFI
#define BufferAt(b, sectors) ((b) + (uint32_t)(sectors) * 512)
#else
#define BufferAt(b, sectors) ((TBuffer)((b) + (sectors) * 32))
#endif
void BufferPut(TBuffer b, TOffset off, const void* src, unsigned n);
/* Copies n bytes (a multiple of 4) between buffers at the same offset. */
void BufferCopy(TBuffer to, TBuffer from, TOffset off, unsigned n);
/* Answers 1 when n bytes (a multiple of 32) at off in both buffers match. */
int BufferEqual(TBuffer a, TBuffer b, TOffset off, unsigned n);
/* Repeats the first length bytes of b up to total bytes (total - 4 *
   length a multiple of 4). */
void BufferRepeat(TBuffer b, unsigned length, unsigned total);
/* Inverts every bit of the first n bytes (a multiple of 8) of b. */
void BufferInvert(TBuffer b, unsigned n);
/* words (a multiple of 4) of xorshift128 from state s at the start of b,
   each inverted if asked; s holds the state after them. */
void BufferXorshift(TBuffer b, unsigned words, uint32_t s[4], int invert);
/* The erase engine's write buffer of BufferSectors 512-byte sectors and
   its read area of ReadSectors (a multiple of BufferSectors);
   PlatformBuffers sets them, or answers 1 when there is no memory for
   them. */
extern TBuffer WriteSeg, ReadSeg;
extern unsigned BufferSectors, ReadSectors;
int PlatformBuffers(void);

/* A line of text before the screen is ours (errors at start-up). */
void Print(const char* s);
/* The parameters the wiper was started with, terminated by a NUL or CR. */
extern char CommandTail[128];

/* Files of the wiper's folder ("DATA\\PURGIT.INI"). ReadFile reads at most
   limit bytes and answers 0 or the platform's error code (DOS's numbers:
   2 not found, 5 denied). */
unsigned ReadFile(const char* path, char* to, unsigned limit, unsigned* length);
/* The 8.3 names of METHODS\*.MET, one at a time (the first with first
   set); answers 0 when there are no more. */
int MethodFile(int first, char name[13]);

/* Timer ticks (18.2 a second) that only go forward, and the date and time:
   year, month, day, hour, minute, second. */
uint32_t Ticks(void);
void ClockNow(unsigned v[6]);
/* Four words that differ between runs and calls (clock, timer counters). */
void Entropy(uint32_t e[4]);

/* Keys as the PC BIOS gives them: scan code << 8 | character. KeyPeek
   answers a waiting key without taking it, or 0; KeyRead waits. */
unsigned KeyPeek(void);
unsigned KeyRead(void);

/* The 80 x 25 text screen: colours as the VGA's attribute byte. */
void ScreenAt(unsigned row, unsigned column, uint8_t attribute, const char* s);
void ScreenCursor(unsigned row, unsigned column);
/* Keep the screen as the program found it, and give it back. */
void ScreenSave(void);
void ScreenRestore(void);

/* The mouse, where there is one. */
extern int Mouse;
void MouseStart(void);
void MouseHide(int hide);
/* A left-button press since the last call: its text row and column. */
int MouseClick(unsigned* row, unsigned* column);

/* The report: ReportPlan runs before any erase (chosen[] marks the disks
   to be erased, named is /L:'s drive letter or 0), ReportWrite after the
   last one writes Log and says in LogPlace what happened. */
void ReportPlan(char named, const char* chosen);
void ReportWrite(void);
/* The report's and the erase record's text as the run makes it: the
   platform keeps it (outside the DOS program's segment) until ReportWrite
   saves the report as PURGnnnn.LOG and the record beside it as
   PURGnnnn.REC. The Clear calls start afresh. */
void ReportClear(void);
void ReportBytes(const char* s, unsigned n);
void RecordClear(void);
void RecordBytes(const char* s, unsigned n);
/* Fills Machine from the firmware's SMBIOS tables (MachineFromTable). */
void FindMachine(void);

/* The debug port (E9h) that /TRACE writes to. */
void OutByte(uint16_t port, uint8_t v);

void* memset(void* d, int c, unsigned n);
void* memcpy(void* d, const void* s, unsigned n);
int memcmp(const void* a, const void* b, unsigned n);
unsigned strlen(const char* s);

#endif
