; BOOTCHK.COM X: run from the start-up batch of a system started from drive
; X:, checks that INT 21h AX=3305h names X:, that X: is the current drive,
; that COMSPEC and PATH name X:\, and writes X:\BOOTCHK.TXT. Prints
; "BOOTCHK-PASSED" and ends normally, or prints the failing check's number
; and ends QEMU through the debug-exit port (0F4h) with 100 + that number.
; A test program only, on no medium.

        bits 16
        org 100h

        mov al, [82h]           ; the letter after the blank
        and al, 0DFh
        mov [comspec+8], al
        mov [path+5], al
        mov [fname], al
        mov [letter], al
        mov ax, 3305h
        int 21h
        add dl, 'A' - 1
        mov [shown], dl
        cmp dl, [letter]
        mov al, 1
        jne fail
        mov ah, 19h
        int 21h
        add al, 'A'
        cmp al, [letter]
        mov al, 2
        jne fail
        mov si, comspec
        call find_env
        mov al, 3
        jc fail
        mov si, path
        call find_env
        mov al, 4
        jc fail
        mov ah, 3Ch
        xor cx, cx
        mov dx, fname
        int 21h
        mov bp, 5
        jc fail_bp
        mov bx, ax
        mov ah, 40h
        mov cx, text_len
        mov dx, text
        int 21h
        mov bp, 6
        jc fail_bp
        cmp ax, text_len
        jne fail_bp
        mov ah, 3Eh
        int 21h
        mov bp, 7
        jc fail_bp
        mov dx, msg_ok
        mov ah, 9
        int 21h
        mov ax, 4C00h
        int 21h

fail_bp:
        mov ax, bp
fail:
        push ax
        add [msg_num], al
        mov dx, msg_fail
        mov ah, 9
        int 21h
        pop ax
        add al, 100
        out 0F4h, al
.halt:
        hlt
        jmp .halt

; is the string at DS:SI ("NAME=value") one of the environment's? CF if not
find_env:
        mov es, [2Ch]
        xor di, di
.var:
        cmp byte [es:di], 0
        je .no
        push si
        push di
.cmp:
        lodsb
        cmp al, [es:di]
        jne .diff
        inc di
        or al, al
        jnz .cmp
        pop di
        pop si
        clc
        ret
.diff:
        pop di
        pop si
.skip:
        inc di
        cmp byte [es:di-1], 0
        jne .skip
        jmp .var
.no:
        stc
        ret

letter   db 0
comspec  db 'COMSPEC=X:\RXDOSCMD.EXE', 0
path     db 'PATH=X:\', 0
fname    db 'X:\BOOTCHK.TXT', 0
text     db 'WRITTEN-FROM-THE-BOOT-VOLUME', 13, 10
text_len equ $ - text
msg_ok   db 'BOOTCHK-PASSED', 13, 10, '$'
msg_fail db 'BOOTCHK-FAILED '
msg_num  db '0 (boot drive '
shown    db '?:)', 13, 10, '$'
