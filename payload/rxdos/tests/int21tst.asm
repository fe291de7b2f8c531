; INT21TST.EXE: exercises the INT 21h services of Rx-DOS and reports through
; the debug-exit port 0F4h: 127 when every check passed, else the number of
; the first failing check (also shown on screen). A pass is never 0: QEMU
; ends with status 2 x value + 1, and a guest's 0 could not be told from
; QEMU's own failure to start (status 1).
;   INT21TST        all checks (needs a writable disk)
; The port carries at most 126 for a failure: higher check numbers report
; 126 there and the exact number (up to 255) on screen.
;   INT21TST /RO    the disk is read-only: changes must fail cleanly
;   INT21TST /Dx    all checks on drive x: (made the current drive first)
;   INT21TST /ECHO text   prints "ARGS:" and the text, ends normally
; After all checks it leaves \KEEP\OUT.BIN (1500 bytes, byte i = i * 7)
; for the test to compare with an independent reader.
; It starts itself again as a child (" /CHILD", " /TSR") to check EXEC.
; An MZ program with a relocated data segment.

        bits 16
        cpu 386

%assign CHK 0
; FAILIF cc: fail with the next check number when condition cc holds
%macro FAILIF 1
%assign CHK CHK+1
        j%-1 %%ok
        mov al, CHK
        jmp fail
%%ok:
%endmacro

        section header start=0
        db 'MZ'
        dw file_bytes % 512
        dw (file_bytes + 511) / 512
        dw 2                    ; relocations
        dw 3                    ; header paragraphs
        dw (bss_bytes + 15) / 16 ; minimum extra: buffers and stack
        dw (bss_bytes + 15) / 16 ; and no more
        dw 0                    ; SS
        dw mem_top              ; SP
        dw 0
        dw start                ; IP
        dw 0                    ; CS
        dw reloc_table - $$     ; relocation table
        dw 0
reloc_table:
        dw fix1, 0
        dw fix2, 0
        times 48 - ($ - $$) db 0

        section code follows=header vstart=0
start:
        db 0B8h                 ; mov ax, load segment (fixed up)
fix1:   dw 0
        mov ds, ax
        mov [psp], es
        ; the loader must hand over DS = ES = PSP
        mov ax, es
        mov bx, cs
        sub bx, ax
        cmp bx, 10h
        FAILIF ne                               ; 1
        mov ax, cs
        cmp ax, [fix2]          ; a fixed-up far pointer in the data
        FAILIF ne                               ; 2
        ; the command tail decides the role
        mov es, [psp]
        mov si, 81h
        call skip_blanks
        cmp byte [es:si], '/'
        jne main
        mov al, [es:si+1]
        cmp al, 'C'
        je child
        cmp al, 'T'
        je tsr
        cmp al, 'R'
        je readonly
        cmp al, 'E'
        je echo_args
        cmp al, 'D'
        je on_drive
        jmp main

on_drive:
        mov dl, [es:si+2]
        and dl, 0DFh
        sub dl, 'A'
        mov [home], dl
        mov ah, 0Eh
        int 21h
        jmp main

echo_args:
        add si, 5
        push ds
        mov dx, msg_args
        mov ah, 9
        int 21h
        mov ax, es
        mov ds, ax
.l:
        mov dl, [si]
        cmp dl, 13
        je .e
        mov ah, 2
        int 21h
        inc si
        jmp .l
.e:
        pop ds
        mov dx, msg_crlf
        mov ah, 9
        int 21h
        mov ax, 4C00h
        int 21h

; ------------------------------------------------------------ child roles
child:
        ; tail " /CHILD abc": count and CR in place
        mov al, [es:80h]
        cmp al, 11
        FAILIF ne                               ; 3
        cmp byte [es:81h+11], 13
        FAILIF ne                               ; 4
        cmp word [es:81h+8], 'ab'
        FAILIF ne                               ; 5
        ; the environment ends with the program's own name
        mov es, [es:2Ch]
        xor di, di
.env:
        cmp word [es:di], 0
        je .envend
        inc di
        jmp .env
.envend:
        cmp word [es:di+2], 1
        FAILIF ne                               ; 6
        add di, 4
.name:
        cmp byte [es:di], 0
        je .nameend
        inc di
        jmp .name
.nameend:
        cmp dword [es:di-4], '.EXE'
        FAILIF ne                               ; 7
        mov ax, 4C2Ah
        int 21h

tsr:
        mov dx, 20h             ; keep the PSP and a little
        mov ax, 3107h
        int 21h
        mov al, 0FEh
        jmp fail

; ------------------------------------------------------------ read-only disk
readonly:
        mov dx, name_file
        xor cx, cx
        mov ah, 3Ch
        int 21h
        FAILIF nc                               ; 8
        cmp ax, 5
        FAILIF ne                               ; 9
        mov dx, name_dir
        mov ah, 39h
        int 21h
        FAILIF nc                               ; 10
        ; reading still works: this program's own file
        call self_name
        push ds
        push es
        pop ds
        mov ax, 3D00h
        int 21h
        pop ds
        FAILIF c                                ; 11
        mov bx, ax
        mov dx, buf
        mov cx, 2
        mov ah, 3Fh
        int 21h
        FAILIF c                                ; 12
        cmp word [buf], 'MZ'
        FAILIF ne                               ; 13
        mov ah, 3Eh
        int 21h
        ; the file system's FAT is unchanged: free space as before
        mov ah, 36h
        xor dl, dl
        int 21h
        cmp ax, 1
        FAILIF ne                               ; 14
        jmp pass

; ------------------------------------------------------------ all checks
main:
        ; 30 version
        mov ax, 3000h
        int 21h
        cmp al, 2
        FAILIF b                                ; 15
        ; 19, 0E drives
        mov ah, 19h
        int 21h
        cmp al, [home]
        FAILIF ne                               ; 16
        mov ah, 0Eh
        mov dl, [home]
        int 21h
        cmp al, 1
        FAILIF b                                ; 17
        ; 1A, 2F transfer address
        mov dx, dta
        mov ah, 1Ah
        int 21h
        mov ah, 2Fh
        int 21h
        cmp bx, dta
        FAILIF ne                               ; 18
        mov ax, es
        mov cx, ds
        cmp ax, cx
        FAILIF ne                               ; 19
        ; 25, 35 vectors
        push ds
        push cs
        pop ds
        mov dx, 1234h
        mov ax, 2560h
        int 21h
        pop ds
        mov ax, 3560h
        int 21h
        cmp bx, 1234h
        FAILIF ne                               ; 20
        mov ax, es
        mov cx, cs
        cmp ax, cx
        FAILIF ne                               ; 21
        ; the kernel's own vectors are set
        mov ax, 3524h
        int 21h
        mov ax, es
        or ax, bx
        FAILIF z                                ; 22
        mov ax, 4300h           ; INT 2Fh: nothing installed
        int 2Fh
        cmp al, 80h
        FAILIF e                                ; 23
        ; 2A date, 2C time
        mov ah, 2Ah
        int 21h
        cmp cx, 1980
        FAILIF b                                ; 24
        cmp dh, 1
        FAILIF b                                ; 25
        cmp dh, 12
        FAILIF a                                ; 26
        cmp dl, 1
        FAILIF b                                ; 27
        cmp dl, 31
        FAILIF a                                ; 28
        cmp al, 6
        FAILIF a                                ; 29
        mov ah, 2Ch
        int 21h
        cmp ch, 23
        FAILIF a                                ; 30
        cmp cl, 59
        FAILIF a                                ; 31
        cmp dh, 59
        FAILIF a                                ; 32
        ; 33 break state
        mov ax, 3301h
        mov dl, 1
        int 21h
        mov ax, 3300h
        int 21h
        cmp dl, 1
        FAILIF ne                               ; 33
        mov ax, 3301h
        xor dl, dl
        int 21h
        mov ax, 3300h
        int 21h
        cmp dl, 0
        FAILIF ne                               ; 34
        ; 02, 09 output (the test reads the screen)
        mov dl, '['
        mov ah, 2
        int 21h
        mov dx, msg_marker
        mov ah, 9
        int 21h
        ; 06 output, then input with nothing waiting
        mov dl, ']'
        mov ah, 6
        int 21h
        call flush_keys
        mov dl, 0FFh
        mov ah, 6
        int 21h
        FAILIF nz                               ; 35
        mov ah, 0Bh
        int 21h
        cmp al, 0
        FAILIF ne                               ; 36
        ; 01, 07, 08 with keys put into the BIOS buffer
        mov cx, 1E61h           ; 'a'
        call stuff_key
        mov ah, 0Bh
        int 21h
        cmp al, 0FFh
        FAILIF ne                               ; 37
        mov ah, 1
        int 21h
        cmp al, 'a'
        FAILIF ne                               ; 38
        mov cx, 3B00h           ; F1: 0, then the scan code
        call stuff_key
        mov ah, 7
        int 21h
        cmp al, 0
        FAILIF ne                               ; 39
        mov ah, 8
        int 21h
        cmp al, 3Bh
        FAILIF ne                               ; 40
        mov cx, 3062h           ; 'b' through 06 input
        call stuff_key
        mov dl, 0FFh
        mov ah, 6
        int 21h
        FAILIF z                                ; 41
        cmp al, 'b'
        FAILIF ne                               ; 42
        ; 0A line input: "hi" Enter
        mov cx, 2368h
        call stuff_key
        mov cx, 1769h
        call stuff_key
        mov cx, 1C0Dh
        call stuff_key
        mov byte [buf], 20
        mov dx, buf
        mov ah, 0Ah
        int 21h
        cmp byte [buf+1], 2
        FAILIF ne                               ; 43
        cmp word [buf+2], 'hi'
        FAILIF ne                               ; 44
        cmp byte [buf+4], 13
        FAILIF ne                               ; 45
        ; 0C: flush, then 01 reads the key put after the flush
        mov cx, 2D78h           ; 'x' (flushed)
        call stuff_key
        mov ax, 0C00h
        int 21h
        mov ah, 0Bh
        int 21h
        cmp al, 0
        FAILIF ne                               ; 46
        ; 3F from handle 0 (the keyboard): "xy" Enter gives "xy" CR LF
        mov cx, 2D78h
        call stuff_key
        mov cx, 1579h
        call stuff_key
        mov cx, 1C0Dh
        call stuff_key
        xor bx, bx
        mov dx, buf
        mov cx, 10
        mov ah, 3Fh
        int 21h
        FAILIF c                                ; 47
        cmp ax, 4
        FAILIF ne                               ; 48
        cmp dword [buf], 0A0D7978h
        FAILIF ne                               ; 49
        ; 40 to handle 1, 44/00 says it is a device
        mov bx, 1
        mov dx, msg_ok
        mov cx, msg_ok_len
        mov ah, 40h
        int 21h
        FAILIF c                                ; 50
        cmp ax, msg_ok_len
        FAILIF ne                               ; 51
        mov ax, 4400h
        mov bx, 1
        int 21h
        FAILIF c                                ; 52
        test dl, 80h
        FAILIF z                                ; 53
        mov ax, 4400h
        mov bx, 19
        int 21h
        FAILIF nc                               ; 54
        cmp ax, 6
        FAILIF ne                               ; 55

        ; 47 current folder: the root at first
        mov si, buf
        xor dl, dl
        mov ah, 47h
        int 21h
        FAILIF c                                ; 56
        cmp byte [buf], 0
        FAILIF ne                               ; 57
        ; 39 mkdir, 3B chdir, 47
        mov dx, name_dir
        mov ah, 39h
        int 21h
        FAILIF c                                ; 58
        mov dx, name_dir
        mov ah, 39h
        int 21h
        FAILIF nc                               ; 59
        mov dx, name_dir
        mov ah, 3Bh
        int 21h
        FAILIF c                                ; 60
        mov si, buf
        xor dl, dl
        mov ah, 47h
        int 21h
        cmp dword [buf], 'TDIR'
        FAILIF ne                               ; 61
        cmp byte [buf+4], 0
        FAILIF ne                               ; 62
        ; 3C create, 40 write 3000 bytes (six sectors), 42, 3F read back
        mov dx, name_file
        xor cx, cx
        mov ah, 3Ch
        int 21h
        FAILIF c                                ; 63
        mov [handle], ax
        call fill_pattern
        mov bx, [handle]
        mov dx, big
        mov cx, 3000
        mov ah, 40h
        int 21h
        FAILIF c                                ; 64
        cmp ax, 3000
        FAILIF ne                               ; 65
        mov bx, [handle]
        mov ax, 4200h
        xor cx, cx
        mov dx, 700
        int 21h
        FAILIF c                                ; 66
        cmp ax, 700
        FAILIF ne                               ; 67
        mov bx, [handle]
        mov dx, buf
        mov cx, 100
        mov ah, 3Fh
        int 21h
        cmp ax, 100
        FAILIF ne                               ; 68
        mov si, big + 700
        mov di, buf
        mov cx, 100
        push ds
        pop es
        repe cmpsb
        FAILIF ne                               ; 69
        mov bx, [handle]
        mov ax, 4202h
        xor cx, cx
        xor dx, dx
        int 21h
        cmp ax, 3000
        FAILIF ne                               ; 70
        or dx, dx
        FAILIF nz                               ; 71
        ; 57 set and get the stamp
        mov bx, [handle]
        mov ax, 5701h
        mov cx, 5A21h
        mov dx, 3C45h
        int 21h
        FAILIF c                                ; 72
        mov ah, 3Eh
        mov bx, [handle]
        int 21h
        FAILIF c                                ; 73
        mov ah, 3Eh
        mov bx, [handle]
        int 21h
        FAILIF nc                               ; 74
        ; 3D open for reading: size, stamp and every byte
        mov dx, name_file
        mov ax, 3D00h
        int 21h
        FAILIF c                                ; 75
        mov [handle], ax
        mov bx, ax
        mov ax, 5700h
        int 21h
        cmp cx, 5A21h
        FAILIF ne                               ; 76
        cmp dx, 3C45h
        FAILIF ne                               ; 77
        mov bx, [handle]
        mov dx, big2
        mov cx, 4000
        mov ah, 3Fh
        int 21h
        cmp ax, 3000
        FAILIF ne                               ; 78
        mov si, big
        mov di, big2
        mov cx, 3000
        push ds
        pop es
        repe cmpsb
        FAILIF ne                               ; 79
        mov bx, [handle]        ; at the end: nothing more
        mov dx, buf
        mov cx, 10
        mov ah, 3Fh
        int 21h
        cmp ax, 0
        FAILIF ne                               ; 80
        ; writing to a read-only handle fails
        mov bx, [handle]
        mov dx, buf
        mov cx, 1
        mov ah, 40h
        int 21h
        FAILIF nc                               ; 81
        ; 45 duplicate
        mov bx, [handle]
        mov ah, 45h
        int 21h
        FAILIF c                                ; 82
        mov bx, ax
        mov ah, 3Eh
        int 21h
        FAILIF c                                ; 83
        mov bx, [handle]
        mov ah, 3Eh
        int 21h
        FAILIF c                                ; 84
        ; truncate with a zero-length write, append, check the size
        mov dx, name_file
        mov ax, 3D02h
        int 21h
        FAILIF c                                ; 85
        mov [handle], ax
        mov bx, ax
        mov ax, 4200h
        xor cx, cx
        mov dx, 600
        int 21h
        mov bx, [handle]
        xor cx, cx
        mov ah, 40h
        int 21h
        FAILIF c                                ; 86
        mov bx, [handle]
        mov ax, 4202h
        xor cx, cx
        xor dx, dx
        int 21h
        cmp ax, 600
        FAILIF ne                               ; 87
        mov bx, [handle]
        mov ah, 3Eh
        int 21h
        ; 43 attributes
        mov dx, name_file
        mov ax, 4300h
        int 21h
        FAILIF c                                ; 88
        test cl, 20h
        FAILIF z                                ; 89
        mov dx, name_file
        mov ax, 4301h
        mov cx, 1
        int 21h
        FAILIF c                                ; 90
        mov dx, name_file
        mov ax, 3D01h
        int 21h
        FAILIF nc                               ; 91
        cmp ax, 5
        FAILIF ne                               ; 92
        mov dx, name_file
        mov ax, 4301h
        xor cx, cx
        int 21h
        ; 56 rename
        push ds
        pop es
        mov dx, name_file
        mov di, name_file2
        mov ah, 56h
        int 21h
        FAILIF c                                ; 93
        mov dx, name_file
        mov ax, 3D00h
        int 21h
        FAILIF nc                               ; 94
        cmp ax, 2
        FAILIF ne                               ; 95
        ; 4E, 4F find: ".", "..", G.TXT, then no more
        mov dx, name_all
        mov cx, 16h
        mov ah, 4Eh
        int 21h
        FAILIF c                                ; 96
        xor bp, bp              ; entries seen
        xor si, si              ; G.TXT seen
.find:
        inc bp
        cmp dword [dta+30], 'G.TX'
        jne .fnext
        cmp word [dta+26], 600
        FAILIF ne                               ; 97
        inc si
.fnext:
        mov ah, 4Fh
        int 21h
        jnc .find
        cmp ax, 12h
        FAILIF ne                               ; 98
        cmp bp, 3
        FAILIF ne                               ; 99
        cmp si, 1
        FAILIF ne                               ; 100
        mov dx, name_none
        mov cx, 0
        mov ah, 4Eh
        int 21h
        FAILIF nc                               ; 101
        ; 26 more files make the folder grow by clusters; all are found
        mov byte [many_name+1], 'A'
.mk:
        mov dx, many_name
        xor cx, cx
        mov ah, 3Ch
        int 21h
        FAILIF c                                ; 102
        mov bx, ax
        mov ah, 3Eh
        int 21h
        inc byte [many_name+1]
        cmp byte [many_name+1], 'A' + 26
        jb .mk
        mov dx, many_pattern
        xor cx, cx
        mov ah, 4Eh
        int 21h
        FAILIF c                                ; 103
        mov cx, 1
.cnt:
        mov ah, 4Fh
        int 21h
        jc .counted
        inc cx
        jmp .cnt
.counted:
        cmp cx, 26
        FAILIF ne                               ; 104
        mov byte [many_name+1], 'A'
.rm:
        mov dx, many_name
        mov ah, 41h
        int 21h
        FAILIF c                                ; 105
        inc byte [many_name+1]
        cmp byte [many_name+1], 'A' + 26
        jb .rm
        ; 41 delete
        mov dx, name_file2
        mov ah, 41h
        int 21h
        FAILIF c                                ; 106
        mov dx, name_file2
        mov ah, 41h
        int 21h
        FAILIF nc                               ; 107
        ; 3A rmdir of the current folder fails; from the parent it works
        mov dx, name_dotdot_dir
        mov ah, 3Ah
        int 21h
        FAILIF nc                               ; 108
        mov dx, name_dotdot
        mov ah, 3Bh
        int 21h
        FAILIF c                                ; 109
        mov si, buf
        xor dl, dl
        mov ah, 47h
        int 21h
        cmp byte [buf], 0
        FAILIF ne                               ; 110
        mov dx, name_dir
        mov ah, 3Ah
        int 21h
        FAILIF c                                ; 111
        mov dx, name_dir
        mov ah, 3Bh
        int 21h
        FAILIF nc                               ; 112
        cmp ax, 3
        FAILIF ne                               ; 113

        ; 48, 4A, 49 memory
        mov bx, 100h
        mov ah, 48h
        int 21h
        FAILIF c                                ; 114
        mov [block], ax
        mov es, ax
        mov word [es:0], 5A5Ah
        mov bx, 200h
        mov ah, 4Ah
        int 21h
        FAILIF c                                ; 115
        mov es, [block]
        mov bx, 10h
        mov ah, 4Ah
        int 21h
        FAILIF c                                ; 116
        mov es, [block]
        cmp word [es:0], 5A5Ah
        FAILIF ne                               ; 117
        mov ah, 49h
        int 21h
        FAILIF c                                ; 118
        mov bx, 0FFFFh
        mov ah, 48h
        int 21h
        FAILIF nc                               ; 119
        cmp ax, 8
        FAILIF ne                               ; 120
        cmp bx, 1000h           ; more than 64 KB left for programs
        FAILIF b                                ; 121
        mov [largest], bx
        mov ax, 1234h           ; not a block
        mov es, ax
        mov ah, 49h
        int 21h
        FAILIF nc                               ; 122
        cmp ax, 9
        FAILIF ne                               ; 123
        ; 51, 62, 50
        mov ah, 51h
        int 21h
        cmp bx, [psp]
        FAILIF ne                               ; 124
        mov ah, 62h
        int 21h
        cmp bx, [psp]
        FAILIF ne                               ; 125
        mov es, [psp]           ; the parent's PSP stands in for a while
        mov ax, [es:16h]
        mov [block], ax
        mov bx, ax
        mov ah, 50h
        int 21h
        mov ah, 51h
        int 21h
        cmp bx, [block]
        FAILIF ne                               ; 126
        mov bx, [psp]
        mov ah, 50h
        int 21h

        ; 4B EXEC of this program as a child: tail, environment, exit code
        mov word [pblock+2], tail_child
        call run_self
        FAILIF c                                ; 127
        mov ah, 4Dh
        int 21h
        cmp ax, 002Ah
        FAILIF ne                               ; 128
        mov ah, 4Dh             ; given once
        int 21h
        cmp ax, 0
        FAILIF ne                               ; 129
        ; all memory came back
        mov bx, 0FFFFh
        mov ah, 48h
        int 21h
        cmp bx, [largest]
        FAILIF ne                               ; 130
        ; a .COM written here: exit code 5 through 4Ch
        mov si, com_exit5
        mov cx, com_exit5_len
        call run_com
        FAILIF c                                ; 131
        cmp ax, 0005h
        FAILIF ne                               ; 132
        ; INT 20h
        mov si, com_int20
        mov cx, com_int20_len
        call run_com
        FAILIF c                                ; 133
        cmp ax, 0
        FAILIF ne                               ; 134
        ; function 00h
        mov si, com_f00
        mov cx, com_f00_len
        call run_com
        FAILIF c                                ; 135
        cmp ax, 0
        FAILIF ne                               ; 136
        ; a .COM that returns with RET (to PSP:0)
        mov si, com_ret
        mov cx, com_ret_len
        call run_com
        FAILIF c                                ; 137
        cmp ax, 0
        FAILIF ne                               ; 138
        ; damaged .EXE files are refused, memory stays whole
        mov word [run_name], name_exe
        mov si, exe_bad_reloc
        mov cx, exe_bad_len
        call run_file
        FAILIF nc                               ; 139
        cmp ax, 0Bh
        FAILIF ne                               ; 140
        mov word [exe_bad_reloc+4], 40h         ; more pages than the file has
        mov word [exe_bad_reloc+6], 0
        mov word [run_name], name_exe
        mov si, exe_bad_reloc
        mov cx, exe_bad_len
        call run_file
        FAILIF nc                               ; 141
        cmp ax, 0Bh
        FAILIF ne                               ; 142
        mov bx, 0FFFFh
        mov ah, 48h
        int 21h
        cmp bx, [largest]
        FAILIF ne                               ; 143
        ; a well-formed small .EXE with a fix-up: exit code 9
        mov word [run_name], name_exe
        mov si, exe_good
        mov cx, exe_good_len
        call run_file
        FAILIF c                                ; 144
        cmp ax, 0009h
        FAILIF ne                               ; 145
        ; a missing program
        mov dx, name_none
        push ds
        pop es
        mov bx, pblock
        mov ax, 4B00h
        int 21h
        FAILIF nc                               ; 146
        cmp ax, 2
        FAILIF ne                               ; 147
        ; 31 keep resident: exit type 3, code 7, memory stays taken
        mov word [pblock+2], tail_tsr
        call run_self
        FAILIF c                                ; 148
        mov ah, 4Dh
        int 21h
        cmp ax, 0307h
        FAILIF ne                               ; 149
        mov bx, 0FFFFh
        mov ah, 48h
        int 21h
        cmp bx, [largest]
        FAILIF ae                               ; 150
        ; 36 free space answers sensibly
        mov ah, 36h
        xor dl, dl
        int 21h
        cmp ax, 1
        FAILIF ne                               ; 151
        cmp cx, 512
        FAILIF ne                               ; 152
        ; a full disk: writes end short without an error, and deleting
        ; the file gives every cluster back
        mov ah, 36h
        xor dl, dl
        int 21h
        mov [free_before], bx
        mov dx, name_full
        xor cx, cx
        mov ah, 3Ch
        int 21h
        FAILIF c                                ; 153
        mov [handle], ax
        xor si, si              ; sectors written
.fill:
        mov bx, [handle]
        xor dx, dx
        mov cx, 0F000h
        mov ah, 40h
        int 21h
        FAILIF c                                ; 154
        mov cl, 9
        shr ax, cl
        add si, ax
        cmp ax, 0F000h >> 9
        je .fill
        cmp si, [free_before]
        FAILIF ne                               ; 155
        mov ah, 36h
        xor dl, dl
        int 21h
        cmp bx, 0
        FAILIF ne                               ; 156
        mov bx, [handle]
        mov ah, 3Eh
        int 21h
        FAILIF c                                ; 157
        mov dx, name_full
        mov ah, 41h
        int 21h
        FAILIF c                                ; 158
        mov ah, 36h
        xor dl, dl
        int 21h
        cmp bx, [free_before]
        FAILIF ne                               ; 159
        ; a file for the test to read back with another reader
        mov dx, name_keep_dir
        mov ah, 39h
        int 21h
        FAILIF c                                ; 160
        mov dx, name_keep
        xor cx, cx
        mov ah, 3Ch
        int 21h
        FAILIF c                                ; 161
        mov bx, ax
        call fill_pattern
        mov dx, big
        mov cx, 1000
        mov ah, 40h
        int 21h
        cmp ax, 1000
        FAILIF ne                               ; 162
        mov dx, big + 1000
        mov cx, 500
        mov ah, 40h
        int 21h
        cmp ax, 500
        FAILIF ne                               ; 163
        mov ah, 3Eh
        int 21h
        FAILIF c                                ; 164
pass:
        mov dx, msg_pass
        mov ah, 9
        int 21h
        mov al, 127
        out 0F4h, al
        mov ax, 4C00h
        int 21h

; AL = failing check
fail:
        push ax
        mov cx, ax
        mov dx, msg_fail
        mov ah, 9
        int 21h
        mov al, cl                      ; hundreds first, when there are any
        xor ah, ah
        mov bl, 100
        div bl
        mov bh, ah
        test al, al
        jz .tens
        mov dl, al
        add dl, '0'
        mov ah, 2
        int 21h
        mov al, bh                      ; below 100 after hundreds: two digits
        aam
        jmp .two
.tens:
        mov al, bh
        aam
.two:
        add ax, '00'
        push ax
        mov dl, ah
        mov ah, 2
        int 21h
        pop ax
        mov dl, al
        mov ah, 2
        int 21h
        pop ax
        cmp al, 126
        jbe .port
        mov al, 126
.port:
        out 0F4h, al
        mov ah, 4Ch
        int 21h

skip_blanks:
        cmp byte [es:si], ' '
        jne .e
        inc si
        jmp skip_blanks
.e:
        ret

; put key CX (scan:char) into the BIOS keyboard buffer
stuff_key:
        mov ah, 5
        int 16h
        ret

flush_keys:
        mov ah, 1
        int 16h
        jz .e
        xor ah, ah
        int 16h
        jmp flush_keys
.e:
        ret

fill_pattern:
        push ds
        pop es
        mov di, big
        mov cx, 3000
        xor ax, ax
.l:
        stosb
        add al, 7
        loop .l
        ret

; ES:DX = this program's name (the last string of the environment)
self_name:
        mov es, [psp]
        mov es, [es:2Ch]
        xor di, di
.env:
        cmp word [es:di], 0
        je .end
        inc di
        jmp .env
.end:
        lea dx, [di+4]
        ret

; EXEC this program
run_self:
        mov es, [psp]
        mov es, [es:2Ch]
        xor di, di
.env:
        cmp word [es:di], 0
        je .end
        inc di
        jmp .env
.end:
        lea dx, [di+4]
        mov [pblock+4], ds
        push ds
        push es
        pop ds
        pop es
        mov bx, pblock
        mov ax, 4B00h
        int 21h
        push es
        pop ds
        ret

; write CX bytes at SI as T.COM, run it, delete it -> AX = its exit status
; (CF and AX = error when EXEC fails)
run_com:
        mov word [run_name], name_com
run_file:
        push cx
        push si
        mov dx, [run_name]
        xor cx, cx
        mov ah, 3Ch
        int 21h
        pop dx
        pop cx
        jc .e
        mov bx, ax
        mov ah, 40h
        int 21h
        jc .e
        mov ah, 3Eh
        int 21h
        mov word [pblock+2], tail_none
        mov [pblock+4], ds
        push ds
        pop es
        mov dx, [run_name]
        mov bx, pblock
        mov ax, 4B00h
        int 21h
        pushf
        push ax
        mov dx, [run_name]
        mov ah, 41h
        int 21h
        pop ax
        popf
        jc .e
        mov ah, 4Dh
        int 21h
        clc
.e:
        ret

fix2            dw 0
psp             dw 0
home            db 0                    ; the drive the checks run on (0 = A:)
handle          dw 0
block           dw 0
largest         dw 0
pblock          dw 0, 0, 0, fcb, 0, fcb, 0
fcb             db 0, '           ', 0, 0, 0, 0
name_file       db 'F.TXT', 0
name_file2      db 'g.txt', 0
name_dir        db 'TDIR', 0
name_dotdot     db '..', 0
name_dotdot_dir db '..\TDIR', 0
name_all        db '*.*', 0
name_none       db 'NOFILE.XYZ', 0
name_com        db '\T.COM', 0
name_keep_dir   db '\KEEP', 0
name_keep       db '\KEEP\OUT.BIN', 0
msg_args        db 'ARGS:$'
msg_crlf        db 13, 10, '$'
tail_child      db 11, ' /CHILD abc', 13
tail_tsr        db 4, ' /TSR', 13
tail_none       db 0, 13
com_exit5       db 0B8h, 05h, 4Ch, 0CDh, 21h
com_exit5_len   equ $ - com_exit5
com_int20       db 0CDh, 20h
com_int20_len   equ $ - com_int20
com_f00         db 0B4h, 00h, 0CDh, 21h
com_f00_len     equ $ - com_f00
com_ret         db 0C3h
com_ret_len     equ $ - com_ret
name_exe        db 'T.EXE', 0
name_full       db '\FULL.BIN', 0
free_before     dw 0
many_name       db 'M0.DAT', 0
many_pattern    db 'M?.DAT', 0
run_name        dw 0
; MZ: 1 page of 48 bytes, header 2 paragraphs, a fix-up at 1000h:0000h
exe_bad_reloc   db 'MZ'
                dw 48, 1, 1, 2, 0, 0FFFFh, 0, 100h, 0, 0, 0, 1Ch, 0
                dw 0, 1000h
                times 32 - 32 db 0
                times 16 db 0C3h
exe_bad_len     equ $ - exe_bad_reloc
; MZ: code "mov ax, 0 (fixed up to the load segment); mov ds, ax;
; cmp ax, cs; jne +4; mov ax, 4C09h; int 21h", exit 4C01h otherwise
exe_good        db 'MZ'
                dw 64, 1, 1, 2, 10h, 10h, 1, 100h, 0, 0, 0, 1Ch, 0
                dw 1, 0
exe_good_code   db 0B8h, 00h, 00h           ; mov ax, seg (fixed up)
                db 8Ch, 0CBh                ; mov bx, cs
                db 39h, 0D8h                ; cmp ax, bx
                db 75h, 05h                 ; jne bad
                db 0B8h, 09h, 4Ch           ; mov ax, 4C09h
                db 0CDh, 21h                ; int 21h
                db 0B8h, 01h, 4Ch           ; bad: mov ax, 4C01h
                db 0CDh, 21h
                times 64 - ($ - exe_good) db 90h
exe_good_len    equ $ - exe_good
msg_marker      db 'INT21TST$'
msg_ok          db ' ok', 13, 10
msg_ok_len      equ $ - msg_ok
msg_pass        db 'INT21TST: all checks passed', 13, 10, '$'
msg_fail        db 13, 10, 'INT21TST: failed check $'
image_end:
file_bytes      equ 48 + (image_end - start)

        absolute image_end
        alignb 2
buf             resb 64
dta             resb 128
big             resb 3000
big2            resb 4000
                resb 2048
        alignb 16
mem_top:
bss_bytes       equ mem_top - image_end

