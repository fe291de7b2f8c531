; Rx-DOS boot sector for a 1.44 MB FAT12 floppy (or the same image as an
; El Torito floppy emulation). Finds RXDOSBIO.SYS in the root directory,
; follows its FAT chain to load it at 0070:0000 and jumps there with
; DL = boot drive and DS:SI = this sector's BPB.

        bits 16
        cpu 186
        org 7C00h

LOADSEG equ 0070h
ROOTBUF equ 0800h          ; segment of the root directory / FAT scratch (8000h)

        jmp short start
        nop
oem             db 'RXDOS1.0'
bytes_per_sec   dw 512
sec_per_clus    db 1
reserved_secs   dw 1
fat_count       db 2
root_entries    dw 224
total_secs      dw 2880
media           db 0F0h
fat_secs        dw 9
sec_per_track   dw 18
heads           dw 2
hidden_secs     dd 0
total_secs32    dd 0
drive_number    db 0
                db 0
boot_sig        db 29h
serial          dd 0
volume_label    db 'NO NAME    '
fs_type         db 'FAT12   '

start:
        cli
        xor ax, ax
        mov ds, ax
        mov ss, ax
        mov sp, 7C00h
        sti
        cld
        mov [drive_number], dl
        ; a copy of the BIOS diskette parameters that allows a full track
        ; (some BIOSes default to 9 sectors)
        mov es, ax
        lds si, [1Eh*4]
        mov di, 0522h
        mov cx, 11
        rep movsb
        mov ds, ax
        mov cl, [sec_per_track]
        mov [0522h+4], cl
        mov word [1Eh*4], 0522h
        mov [1Eh*4+2], ax

        ; first root sector, then first data sector
        mov al, [fat_count]
        cbw
        mul word [fat_secs]
        add ax, [reserved_secs]
        mov [root_lba], ax
        mov ax, [root_entries]
        add ax, 15
        shr ax, 4
        mov [root_count], ax
        add ax, [root_lba]
        mov [data_lba], ax

        ; scan the root one sector at a time
        mov ax, [root_lba]
        mov bp, [root_count]
.next_root:
        mov bx, ROOTBUF
        mov es, bx
        xor bx, bx
        call read_sector
        xor di, di
.next_entry:
        cmp byte [es:di], 0
        je missing
        push di
        mov si, sys_name
        mov cx, 11
        repe cmpsb
        pop di
        je found
        add di, 32
        cmp di, 512
        jb .next_entry
        inc ax
        dec bp
        jnz .next_root
missing:
        mov si, msg_missing
        jmp fatal

found:
        mov dx, [es:di+26]     ; first cluster
        ; load the whole first FAT into ROOTBUF (max 12 sectors fit below 7C00h+...)
        mov ax, [reserved_secs]
        mov cx, [fat_secs]
        xor bx, bx
.fat_loop:
        call read_sector
        inc ax
        add bx, 512
        loop .fat_loop

        mov bx, LOADSEG
        mov es, bx
        xor bx, bx
.cluster:
        cmp dx, 2
        jb bad_chain
        cmp dx, 0FF8h
        jae done
        mov ax, dx
        sub ax, 2
        mov cl, [sec_per_clus]
        xor ch, ch
        push dx
        mul cx
        pop dx
        add ax, [data_lba]
.sec:
        cmp ax, [total_secs]    ; a chain leading off the disk
        jae bad_chain
        call read_sector
        inc ax
        mov si, es
        add si, 32             ; 512 bytes further
        mov es, si
        cmp si, 07C0h - 32     ; never overwrite this sector
        ja bad_chain
        loop .sec
        ; next cluster from the FAT12 table at ROOTBUF:0
        push es
        mov si, ROOTBUF
        mov es, si
        mov si, dx
        shr si, 1
        add si, dx             ; si = cluster * 3 / 2
        mov si, [es:si]
        test dl, 1
        jz .even
        shr si, 4
.even:
        and si, 0FFFh
        mov dx, si
        pop es
        jmp .cluster

bad_chain:
        mov si, msg_chain
        jmp fatal

done:
        mov dl, [drive_number]
        mov si, 7C00h
        jmp LOADSEG:0000h

; read sector AX (LBA) to ES:BX; three attempts, resetting the drive between
read_sector:
        push ax
        push cx
        push dx
        mov di, 3
.retry:
        push ax
        xor dx, dx
        div word [sec_per_track]
        mov cl, dl
        inc cl                 ; sector
        xor dx, dx
        div word [heads]
        mov dh, dl             ; head
        mov ch, al             ; cylinder
        mov dl, [drive_number]
        mov ax, 0201h
        int 13h
        pop ax
        jnc .ok
        xor ah, ah
        mov dl, [drive_number]
        int 13h
        dec di
        jnz .retry
        mov si, msg_read
        jmp fatal
.ok:
        pop dx
        pop cx
        pop ax
        ret

fatal:
        push si
        mov si, msg_prefix
        call print
        pop si
        call print
        mov si, msg_key
        call print
        xor ah, ah
        int 16h
        int 19h

print:
        lodsb
        or al, al
        jz .e
        mov ah, 0Eh
        mov bx, 7
        int 10h
        jmp print
.e:
        ret

sys_name    db 'RXDOSBIOSYS'
msg_prefix  db 13, 10, 'Rx-DOS: ', 0
msg_missing db 'RXDOSBIO.SYS missing', 0
msg_read    db 'read error', 0
msg_chain   db 'bad chain', 0
msg_key     db '. Press a key', 0

root_lba    equ 0600h
root_count  equ 0602h
data_lba    equ 0604h

        times 510-($-$$) db 0
        dw 0AA55h
