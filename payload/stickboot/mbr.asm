; Master boot record of the Rx-DOS stick: 440 bytes of code. The layout
; writes the disk signature, the partition table and 55 AA after it.
; Moves itself to 0:0600, loads the active partition's first sector to
; 0:7C00 (INT 13h AH=42h when AH=41h offers it, else CHS with the geometry
; of AH=08h), checks its 55 AA and enters it with DL = BIOS drive and
; DS:SI = the partition entry.

        bits 16
        cpu 186
        org 0600h

TABLE   equ 07BEh               ; the partition table in the moved copy

        cli
        xor ax, ax
        mov ss, ax
        mov sp, 7C00h
        mov ds, ax
        mov es, ax
        sti
        cld
        mov si, 7C00h
        mov di, 0600h
        mov cx, 256
        rep movsw
        jmp 0:moved

moved:
        mov [drive], dl
        mov si, TABLE
        mov cx, 4
.find:
        cmp byte [si], 80h
        je found
        add si, 16
        loop .find
        mov si, msg_active
        jmp fatal

found:
        mov [entry], si
        mov ah, 41h
        mov bx, 55AAh
        int 13h
        jc chs
        cmp bx, 0AA55h
        jne chs
        test cl, 1
        jz chs
        mov di, 3
.retry:
        mov si, [entry]
        push word 0
        push word 0
        push word [si+10]
        push word [si+8]
        push word 0             ; segment
        push word 7C00h
        push word 1
        push word 16
        mov si, sp
        mov ah, 42h
        mov dl, [drive]
        int 13h
        lea sp, [si+16]
        jnc loaded
        call reset
        jnz .retry
        jmp read_error

chs:
        mov ah, 08h
        mov dl, [drive]
        int 13h
        jc read_error
        and cx, 3Fh
        jz read_error
        mov [spt], cx
        mov dl, dh
        xor dh, dh
        inc dx
        mov [heads], dx
        mov di, 3
.retry:
        mov si, [entry]
        ; LBA / sectors per track, in two steps for the 32-bit number
        xor dx, dx
        mov ax, [si+10]
        div word [spt]
        mov bx, ax
        mov ax, [si+8]
        div word [spt]
        mov cx, dx
        inc cx                  ; sector
        cmp bx, [heads]         ; a cylinder beyond 16 bits
        jae read_error
        mov dx, bx
        div word [heads]        ; DX:AX track -> AX cylinder, DX head
        cmp ax, 1023
        ja read_error
        mov dh, dl
        mov ch, al
        shl ah, 6
        or cl, ah
        mov dl, [drive]
        mov bx, 7C00h
        mov ax, 0201h
        int 13h
        jnc loaded
        call reset
        jnz .retry
        jmp read_error

; reset the drive, one attempt fewer; ZF when none is left
reset:
        xor ah, ah
        mov dl, [drive]
        int 13h
        dec di
        ret

loaded:
        cmp word [7DFEh], 0AA55h
        mov si, msg_signature
        jne fatal
        mov si, [entry]
        mov dl, [drive]
        jmp 0:7C00h

read_error:
        mov si, msg_read
fatal:
        lodsb
        or al, al
        jz .wait
        mov ah, 0Eh
        mov bx, 7
        int 10h
        jmp fatal
.wait:
        xor ah, ah
        int 16h
        int 19h

msg_active    db 13, 10, 'No active partition. Press a key', 0
msg_read      db 13, 10, 'Disk read error. Press a key', 0
msg_signature db 13, 10, 'No boot signature. Press a key', 0

drive   equ 0500h
entry   equ 0502h
spt     equ 0504h
heads   equ 0506h

code_end:
%if $ - $$ > 440
%error "MBR code larger than 440 bytes"
%endif
        times 440 - ($ - $$) db 0
