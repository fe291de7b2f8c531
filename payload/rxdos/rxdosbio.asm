; RXDOSBIO.SYS: the BIOS interface of Rx-DOS. The boot sector loads it at
; 0070:0000. It keeps the boot geometry, offers one-sector disk transfers to
; the kernel (far call to 0070:0003) and loads RXDOS.SYS at KSEG:0000.
; Started from a hard disk's partition (DL >= 80h) it loads RXDOS.SYS from
; FAT16 or FAT32 itself (hdboot below) and the kernel reads that volume on
; its own.

        bits 16
        org 0

KSEG    equ 0100h               ; kernel load segment (linear 1000h)
TMPSEG  equ 2000h               ; scratch for root directory and FAT while loading
BIOMAX  equ 0900h               ; must end below the kernel

        jmp near init
        jmp near disk_io        ; offset 3: the kernel's sector transfer entry

; Boot geometry (copied from the boot sector's BPB)
drive           db 0
sec_per_track   dw 18
heads           dw 2
spc             db 1
reserved        dw 1
fats            db 2
root_entries    dw 224
fat_secs        dw 9
total_secs      dw 2880
root_lba        dw 0
root_count      dw 0
data_lba        dw 0

; Far entry: AL = 2 read / 3 write, CX = LBA, ES:BX = 512-byte buffer.
; CF set and AH = BIOS status on failure. Other registers kept.
disk_io:
        push cx
        push dx
        push si
        push di
        push ds
        push cs
        pop ds
        mov si, 3               ; attempts
        mov di, ax
.retry:
        push cx
        mov ax, cx
        xor dx, dx
        div word [sec_per_track]
        mov cl, dl
        inc cl
        xor dx, dx
        div word [heads]
        mov dh, dl
        mov ch, al
        shr ax, 1               ; cylinder bits 8-9 into CL 6-7
        shr ax, 1
        and al, 0C0h
        or cl, al
        mov dl, [drive]
        mov ax, di
        mov ah, al
        mov al, 1
        int 13h
        pop cx
        jnc .ok
        cmp ah, 3               ; write protected: retrying cannot help
        je .fail
        push ax
        xor ah, ah
        mov dl, [drive]
        int 13h
        pop ax
        dec si
        jnz .retry
.fail:
        stc                     ; AH = BIOS status
        jmp short .out
.ok:
        mov ax, di
        clc
.out:
        pop ds
        pop di
        pop si
        pop dx
        pop cx
        retf

; Near wrapper for the loader: read sector AX to ES:BX, fatal on error
read_sector:
        push ax
        push cx
        mov cx, ax
        mov al, 2
        push cs
        call disk_io
        pop cx
        pop ax
        jc .err
        ret
.err:
        mov si, msg_read
        jmp fatal

fatal:
        push cs
        pop ds
.loop:
        lodsb
        or al, al
        jz .wait
        mov ah, 0Eh
        mov bx, 7
        int 10h
        jmp .loop
.wait:
        xor ah, ah
        int 16h
        int 19h

init:
        cli
        xor ax, ax
        mov ss, ax
        mov sp, 7C00h
        sti
        cld
        push cs
        pop es
        mov [es:drive], dl
        cmp dl, 80h
        jb .floppy
        jmp hdboot
.floppy:
        ; DS:SI = boot sector with its BPB
        mov ax, [si+18h]
        mov [es:sec_per_track], ax
        mov ax, [si+1Ah]
        mov [es:heads], ax
        mov al, [si+0Dh]
        mov [es:spc], al
        mov ax, [si+0Eh]
        mov [es:reserved], ax
        mov al, [si+10h]
        mov [es:fats], al
        mov ax, [si+11h]
        mov [es:root_entries], ax
        mov ax, [si+16h]
        mov [es:fat_secs], ax
        mov ax, [si+13h]
        mov [es:total_secs], ax
        push cs
        pop ds

        mov al, [fats]
        cbw
        mul word [fat_secs]
        add ax, [reserved]
        mov [root_lba], ax
        mov ax, [root_entries]
        add ax, 15
        mov cl, 4
        shr ax, cl
        mov [root_count], ax
        add ax, [root_lba]
        mov [data_lba], ax

        ; root directory into TMPSEG:0
        mov ax, TMPSEG
        mov es, ax
        xor bx, bx
        mov ax, [root_lba]
        mov cx, [root_count]
.rootl:
        call read_sector
        inc ax
        add bx, 512
        loop .rootl
        xor di, di
        mov dx, [root_entries]
.find:
        cmp byte [es:di], 0
        je .missing
        push di
        mov si, kernel_name
        mov cx, 11
        repe cmpsb
        pop di
        je .found
        add di, 32
        dec dx
        jnz .find
.missing:
        mov si, msg_missing
        jmp fatal
.found:
        mov dx, [es:di+26]
        ; FAT into TMPSEG:4000
        mov bx, 4000h
        mov ax, [reserved]
        mov cx, [fat_secs]
.fatl:
        call read_sector
        inc ax
        add bx, 512
        loop .fatl

        mov ax, KSEG
        mov es, ax
        xor bx, bx
.cluster:
        cmp dx, 2
        jb .bad
        cmp dx, 0FF8h
        jae .loaded
        mov ax, dx
        sub ax, 2
        mov cl, [spc]
        xor ch, ch
        push dx
        mul cx
        pop dx
        add ax, [data_lba]
.sec:
        cmp ax, [total_secs]    ; a chain leading off the disk
        jae .bad
        call read_sector
        inc ax
        mov si, es
        add si, 32
        mov es, si
        cmp si, TMPSEG - 32
        jae .bad
        loop .sec
        push es
        mov si, TMPSEG
        mov es, si
        mov si, dx
        shr si, 1
        add si, dx
        mov si, [es:si+4000h]
        test dl, 1
        jz .even
        mov cl, 4
        shr si, cl
.even:
        and si, 0FFFh
        mov dx, si
        pop es
        jmp .cluster
.bad:
        mov si, msg_bad
        jmp fatal
.loaded:
        mov ax, KSEG
        mov es, ax
        cmp word [es:3], 'RX'   ; kernel signature after its jump
        jne .bad
        mov dl, [drive]
        mov dh, 0               ; A: through the transfers at 0070:0003
        jmp KSEG:0000h

%include "hdboot.inc"

kernel_name db 'RXDOS   SYS'
msg_read    db 13, 10, 'Rx-DOS: disk read error. Press a key', 0
msg_missing db 13, 10, 'Rx-DOS: RXDOS.SYS missing. Press a key', 0
msg_bad     db 13, 10, 'Rx-DOS: RXDOS.SYS is damaged. Press a key', 0

%if $ - $$ > BIOMAX
%error "RXDOSBIO.SYS too large"
%endif
