; Boot sector of the empty 1.44 MB MS-DOS floppy.
;
; Loads an MS-DOS 7 IO.SYS and hands over to it the way its loader expects:
;   - the first 4 sectors of IO.SYS (the file must be contiguous) at 0070:0000,
;     entered at 0070:0200;
;   - SS:BP = 0000:7C00, this sector with its BPB; the BPB drive number byte
;     (offset 24h) holds the boot drive, which the loader reads from there;
;   - dword [BP-4] = LBA of the first data sector (hidden sectors included);
;   - DI = first cluster of IO.SYS; DL = boot drive as well;
;   - the BIOS floppy parameter table copied to 0000:0522 (sectors per track
;     from the BPB, head settle 15 ms) with INT 1Eh pointing at the copy;
;   - on the stack, from SS:SP up: 0078h, 0000h (where the INT 1Eh vector
;     lives) and then the original INT 1Eh vector (offset, segment), so that
;     whoever gives up can put the vector back.
; Byte 2 is 90h (NOP): the loader then reads with CHS, not LBA.
;
; Everything is taken from the BPB, so the same code serves any FAT12/16
; floppy layout; this image is the standard 1.44 MB one. Reads go one sector
; at a time: no track or DMA boundary can be crossed, and an El Torito floppy
; emulation (drive 00h, read-only) behaves like a real drive.
;
; Assemble: nasm -f bin -o BOOTSECT.BIN BOOTSECT.asm

        cpu     8086
        org     7C00h

LOAD_SEG        equ 0070h       ; IO.SYS load segment
LOAD_BUF        equ 0700h       ; the same place as an offset from 0
LOAD_SECTORS    equ 4
DPT_COPY        equ 0522h       ; where DOS expects the floppy parameter table
INT1E           equ 1Eh * 4
STACK_TOP       equ 7C00h - 12  ; below [BP-4] and a little scratch

        jmp     short Start
        nop                     ; 90h here means CHS reads

        db      "MSWIN4.1"      ; OEM name
BytesPerSector  dw      512
SecPerCluster   db      1
ReservedSectors dw      1
FatCount        db      2
RootEntries     dw      224
TotalSectors16  dw      2880
MediaByte       db      0F0h
SectorsPerFat   dw      9
SecPerTrack     dw      18
HeadCount       dw      2
HiddenSectors   dd      0
TotalSectors32  dd      0
DriveNumber     db      0
                db      0
                db      29h     ; extended BPB follows
                dd      56A3B9E1h
                db      "DSKPURGX   "
                db      "FAT12   "

; BPB fields as offsets from BP = 7C00h.
%define BPB(f)  bp + (f - $$)
DATA_START      equ -4          ; [BP-4], dword

Start:
        cli
        xor     ax, ax
        mov     ss, ax
        mov     sp, STACK_TOP
        mov     es, ax
        mov     bx, INT1E
        lds     si, [ss:bx]     ; DS:SI = the BIOS table
        push    ds              ; original vector, segment then offset
        push    si
        push    ss              ; where it lives
        push    bx
        mov     di, DPT_COPY
        mov     cx, 11
        cld
        rep     movsb
        mov     ds, ax
        mov     bp, 7C00h
        ; Some BIOS tables give fewer sectors per track than the medium has,
        ; which breaks multi-sector reads; a zero settle time is too fast for
        ; real drives.
        mov     al, [BPB(SecPerTrack)]
        mov     [DPT_COPY + 4], al
        mov     byte [DPT_COPY + 9], 15
        mov     word [bx], DPT_COPY
        mov     [bx + 2], cx    ; cx = 0 after the copy
        sti
        mov     [BPB(DriveNumber)], dl
        int     13h             ; ah = 0: reset, so the BIOS takes the new table
        jc      DiskError

        ; Root directory = hidden + reserved + FATs * sectors per FAT.
        mov     al, [BPB(FatCount)]
        cbw
        mul     word [BPB(SectorsPerFat)]
        add     ax, [BPB(ReservedSectors)]
        adc     dx, cx
        add     ax, [BPB(HiddenSectors)]
        adc     dx, [BPB(HiddenSectors) + 2]
        ; Data = root + one sector per 16 entries, rounded up.
        mov     si, [BPB(RootEntries)]
        add     si, 15
        mov     cl, 4
        shr     si, cl
        mov     [bp + DATA_START], ax
        mov     [bp + DATA_START + 2], dx
        add     [bp + DATA_START], si
        adc     word [bp + DATA_START + 2], 0

        ; Search every root directory sector for IO.SYS.
        mov     bx, LOAD_BUF
NextRootSector:
        cmp     ax, [bp + DATA_START]
        je      NoSystem
        call    ReadSector
        mov     cx, [BPB(BytesPerSector)]
        mov     di, bx
NextEntry:
        push    cx
        push    di
        mov     si, IoSysName
        mov     cx, 11
        repe    cmpsb
        pop     di
        pop     cx
        jne     NotThisOne
        test    byte [di + 0Bh], 18h    ; not a folder or a volume label
        jz      Found
NotThisOne:
        add     di, 32
        sub     cx, 32
        ja      NextEntry
        add     ax, 1
        adc     dx, 0
        jmp     short NextRootSector

Found:
        mov     ax, [di + 1Ah]  ; first cluster
        push    ax
        sub     ax, 2
        jb      NoSystem        ; an empty file has no cluster
        mov     cl, [BPB(SecPerCluster)]
        xor     ch, ch
        mul     cx
        add     ax, [bp + DATA_START]
        adc     dx, [bp + DATA_START + 2]
        mov     cx, LOAD_SECTORS
LoadNext:
        call    ReadSector
        add     ax, 1
        adc     dx, 0
        add     bx, [BPB(BytesPerSector)]
        loop    LoadNext
        pop     di              ; first cluster for the loader
        mov     dl, [BPB(DriveNumber)]
        jmp     LOAD_SEG:0200h

; Reads the sector at LBA DX:AX to ES:BX, trying a few times with a reset
; in between (floppies often fail the first read after a motor start).
; Gives up through DiskError; keeps every register.
ReadSector:
        push    ax
        push    cx
        push    dx
        push    si
        mov     cx, ax
        mov     ax, dx
        xor     dx, dx
        div     word [BPB(SecPerTrack)]
        xchg    ax, cx
        div     word [BPB(SecPerTrack)]
        inc     dx
        mov     si, dx          ; sector, from 1
        mov     dx, cx
        cmp     dx, [BPB(HeadCount)]
        jae     DiskError       ; beyond any cylinder CHS can reach
        div     word [BPB(HeadCount)]   ; ax = cylinder, dx = head
        mov     cl, 6
        shl     ah, cl
        xchg    al, ah
        or      ax, si
        xchg    ax, cx          ; ch = cylinder, cl = sector | cylinder bits 8-9
        mov     dh, dl
        mov     dl, [BPB(DriveNumber)]
        mov     si, 4
.Try:
        mov     ax, 0201h
        int     13h
        jnc     .Done
        xor     ax, ax
        int     13h
        dec     si
        jnz     .Try
        jmp     short DiskError
.Done:
        pop     si
        pop     dx
        pop     cx
        pop     ax
        ret

NoSystem:
        mov     si, MsgNoSystem
        jmp     short Fail
DiskError:
        mov     si, MsgDiskError
Fail:
        call    Print
        mov     si, MsgPressKey
        call    Print
        xor     ax, ax
        int     16h
        ; Put the BIOS table back before trying the next boot device.
        mov     sp, STACK_TOP - 8
        pop     si
        pop     ds
        pop     word [si]
        pop     word [si + 2]
        int     19h

Print:
        lodsb
        test    al, al
        jz      .Done
        mov     ah, 0Eh
        mov     bx, 7
        int     10h
        jmp     short Print
.Done:
        ret

IoSysName       db      "IO      SYS"
MsgNoSystem     db      13, 10, "No IO.SYS on this disk.", 0
MsgDiskError    db      13, 10, "Disk read error.", 0
MsgPressKey     db      13, 10, "Insert a system disk and press a key.", 13, 10, 0

        times   510 - ($ - $$) db 0
        dw      0AA55h
