; TESTIO.SYS: a stand-in for IO.SYS that checks what the boot sector hands
; over and reports it on screen and through the isa-debug-exit port 0F4h
; (33 = every check passed, otherwise the number of the first failed check;
; never 0, which QEMU's own failure to start could not be told from);
; what it prints also goes to port 0E9h (QEMU's debugcon).
;
; Expected, for IO.SYS written first onto the standard 1.44 MB floppy:
;   1  CS:IP = 0070:0200
;   2  SS:BP = 0000:7C00
;   3  the boot sector with the 1.44 MB BPB and its signature at 0:7C00
;   4  dword [BP-4] = 33, the first data sector
;   5  DI = 2, the first cluster of IO.SYS
;   6  boot drive byte [0:7C24] = 00h (floppy A:, or a CD's floppy emulation)
;   7  0070:0000-07FF hold the first 4 sectors of this file, byte for byte as
;      read back from LBA 33-36 through that drive (the drive byte must work)
;   8  INT 1Eh = 0000:0522
;   9  the table at 0:0522 says 512-byte sectors, 18 sectors per track and
;      a head settle time of 15 ms
;  10  [SP] = 0078h, [SP+2] = 0000h (the two words above the vector)
;  11  [SP+4] = the original INT 1Eh vector: somewhere else, and its table
;      equals the copy apart from bytes 4 and 9, which the boot sector sets
;
; The file is 6 sectors long so that the boot sector's 4-sector load is a
; part of it; only the first 4 are expected in memory.
;
; Assemble: nasm -f bin -o TESTIO.SYS TESTIO.asm

        cpu     8086
        org     0

LOAD_SEG        equ 0070h
BUFFER_SEG      equ 1000h       ; disk read-back buffer, far from everything
DEBUG_EXIT      equ 0F4h
PASSED          equ 33
DEBUG_CONSOLE   equ 0E9h
DPT_COPY        equ 0522h
SECTORS         equ 6
FILLER          equ 0A5h

        ; First sector: not executed, only compared.
        db      "TESTIO.SYS boot hand-over check, sector 0", 13, 10, 26
        times   200h - ($ - $$) db FILLER

Entry:
        ; Nothing can be trusted before CS:IP is known; touch only the stack.
        push    ax
        mov     ax, cs
        cmp     ax, LOAD_SEG
        jne     WrongPlace
        call    .Here
.Here:  pop     ax
        cmp     ax, .Here
        jne     WrongPlace
        pop     ax
        mov     [cs:EntryDI], di
        mov     [cs:EntryBP], bp
        mov     [cs:EntrySP], sp
        mov     [cs:EntrySS], ss
        cld
        mov     ax, cs
        mov     ds, ax
        mov     byte [FirstFailure], 0

        mov     si, MsgHello
        call    Print
        ; What came in, for whoever reads a failure off the screen.
        mov     si, MsgDI
        mov     ax, [EntryDI]
        call    PrintNamedWord
        mov     si, MsgBP
        mov     ax, [EntryBP]
        call    PrintNamedWord
        mov     si, MsgSSSP
        mov     ax, [EntrySS]
        call    PrintNamedWord
        mov     al, ":"
        call    PutChar
        mov     ax, [EntrySP]
        call    PrintHexWord
        mov     si, MsgNewLine
        call    Print

        ; 2: SS:BP
        cmp     word [EntrySS], 0
        jne     .Fail2
        cmp     word [EntryBP], 7C00h
        je      .Ok2
.Fail2: mov     al, 2
        call    Failed
.Ok2:
        ; 3: the boot sector and its BPB at 0:7C00
        xor     ax, ax
        mov     es, ax
        mov     si, ExpectedBpb
        mov     di, 7C0Bh
        mov     cx, ExpectedBpbEnd - ExpectedBpb
        repe    cmpsb
        jne     .Fail3
        cmp     word [es:7DFEh], 0AA55h
        je      .Ok3
.Fail3: mov     al, 3
        call    Failed
.Ok3:
        ; 4: [BP-4], read where the boot sector left it
        cmp     word [es:7C00h - 4], 33
        jne     .Fail4
        cmp     word [es:7C00h - 2], 0
        je      .Ok4
.Fail4: mov     al, 4
        call    Failed
.Ok4:
        ; 5: DI
        cmp     word [EntryDI], 2
        je      .Ok5
        mov     al, 5
        call    Failed
.Ok5:
        ; 6: the drive byte
        cmp     byte [es:7C24h], 0
        je      .Ok6
        mov     al, 6
        call    Failed
.Ok6:
        ; 7: read LBA 33-36 back and compare with what was loaded
        mov     ax, BUFFER_SEG
        mov     es, ax
        xor     bx, bx
        mov     ax, 33
.Read:  call    ReadSector
        jc      .Fail7
        inc     ax
        add     bx, 512
        cmp     ax, 33 + 4
        jb      .Read
        mov     si, 0
        xor     di, di
        mov     cx, 4 * 512
        repe    cmpsb           ; DS = 0070h: the loaded image itself
        je      .Ok7
.Fail7: mov     al, 7
        call    Failed
.Ok7:
        ; 8: INT 1Eh
        xor     ax, ax
        mov     es, ax
        cmp     word [es:1Eh * 4], DPT_COPY
        jne     .Fail8
        cmp     word [es:1Eh * 4 + 2], 0
        je      .Ok8
.Fail8: mov     al, 8
        call    Failed
.Ok8:
        ; 9: the copied table
        cmp     byte [es:DPT_COPY + 3], 2
        jne     .Fail9
        cmp     byte [es:DPT_COPY + 4], 18
        jne     .Fail9
        cmp     byte [es:DPT_COPY + 9], 15
        je      .Ok9
.Fail9: mov     al, 9
        call    Failed
.Ok9:
        ; 10 and 11: the stack as the boot sector left it
        mov     es, [EntrySS]
        mov     bx, [EntrySP]
        cmp     word [es:bx], 1Eh * 4
        jne     .Fail10
        cmp     word [es:bx + 2], 0
        je      .Ok10
.Fail10:
        mov     al, 10
        call    Failed
.Ok10:
        les     di, [es:bx + 4] ; the original vector
        mov     ax, es
        test    ax, ax
        jz      .Fail11         ; nothing in low memory can be the BIOS table
        xor     ax, ax
        mov     ds, ax
        mov     si, DPT_COPY
        mov     cx, 11
        xor     bx, bx
.Compare:
        mov     al, [si + bx]
        cmp     bl, 4
        je      .Next
        cmp     bl, 9
        je      .Next
        cmp     al, [es:di + bx]
        jne     .Fail11
.Next:  inc     bx
        loop    .Compare
        push    cs
        pop     ds
        jmp     short .Ok11
.Fail11:
        push    cs
        pop     ds
        mov     al, 11
        call    Failed
.Ok11:
        mov     al, [FirstFailure]
        test    al, al
        jnz     .Report
        mov     si, MsgOk
        call    Print
        mov     al, PASSED
.Report:
        out     DEBUG_EXIT, al
Halt:   cli
        hlt
        jmp     short Halt

WrongPlace:
        mov     al, 1
        out     DEBUG_EXIT, al
        jmp     short Halt

; Notes check AL as failed: prints it and keeps the first one.
Failed:
        cmp     byte [FirstFailure], 0
        jne     .Shown
        mov     [FirstFailure], al
.Shown:
        push    ax
        mov     si, MsgFailed
        call    Print
        pop     ax
        aam                     ; ah = tens, al = units
        add     ax, "00"
        push    ax
        cmp     ah, "0"
        je      .Units
        mov     al, ah
        call    PutChar
.Units: pop     ax
        call    PutChar
        mov     si, MsgNewLine
        jmp     short Print

; Reads LBA AX (1.44 MB geometry) from the boot drive to ES:BX; CF on error.
ReadSector:
        push    ax
        push    cx
        push    dx
        push    si
        mov     cl, 18
        div     cl              ; al = track, ah = sector - 1
        mov     cl, ah
        inc     cl
        mov     ch, al
        shr     ch, 1           ; cylinder
        mov     dh, al
        and     dh, 1           ; head
        xor     si, si
        push    ds
        mov     ds, si
        mov     dl, [7C24h]
        pop     ds
        mov     si, 3           ; tries
.Try:   mov     ax, 0201h
        int     13h
        jnc     .Done
        xor     ax, ax
        int     13h
        dec     si
        jnz     .Try
        stc
.Done:  pop     si
        pop     dx
        pop     cx
        pop     ax
        ret

Print:  lodsb
        test    al, al
        jz      .Done
        call    PutChar
        jmp     short Print
.Done:  ret

; Prints the text at SI, then AX in hex.
PrintNamedWord:
        push    ax
        call    Print
        pop     ax
PrintHexWord:
        mov     cx, 4
.Digit: push    cx
        mov     cl, 4
        rol     ax, cl
        pop     cx
        push    ax
        and     al, 0Fh
        add     al, "0"
        cmp     al, "9"
        jbe     .Put
        add     al, "A" - "0" - 10
.Put:   call    PutChar
        pop     ax
        loop    .Digit
        ret

; Also to port 0E9h, which QEMU's debugcon device can log to a file: the
; screen is gone by the time the debug-exit port has ended the machine.
PutChar:
        out     DEBUG_CONSOLE, al
        push    bx
        mov     ah, 0Eh
        mov     bx, 7
        int     10h
        pop     bx
        ret

; 1.44 MB BPB from offset 0Bh to the drive byte (excluded).
ExpectedBpb:
        dw      512
        db      1
        dw      1
        db      2
        dw      224
        dw      2880
        db      0F0h
        dw      9
        dw      18
        dw      2
        dd      0
        dd      0
ExpectedBpbEnd:

MsgHello        db      "TESTIO: checking the boot hand-over", 13, 10, 0
MsgDI           db      "DI=", 0
MsgBP           db      " BP=", 0
MsgSSSP         db      " SS:SP=", 0
MsgOk           db      "TESTIO OK", 13, 10, 0
MsgFailed       db      "TESTIO FAILED check ", 0
MsgNewLine      db      13, 10, 0

        ; No sector may be blank: a sector the boot sector skipped must not
        ; pass for one it loaded.
        times   3 * 512 - ($ - $$) db FILLER
        db      "TESTIO.SYS sector 3, the last one the boot sector loads", 13, 10, 26
        times   4 * 512 - ($ - $$) db FILLER
        ; Beyond the part the boot sector loads; only the loader of a real
        ; IO.SYS would read these.
        db      "TESTIO.SYS sector 4, not loaded by the boot sector", 13, 10, 26
        times   SECTORS * 512 - ($ - $$) db FILLER

; Variables live past the loaded 4 sectors, so that the image stays as loaded.
        absolute 4 * 512
EntryDI         resw    1
EntryBP         resw    1
EntrySP         resw    1
EntrySS         resw    1
FirstFailure    resb    1
