; Boot sector of the stick's FAT16 partition: loads RXDOSBIO.SYS from the
; fixed root directory. The layout writes the BPB (0Bh..3Dh).

        bits 16
        cpu 386
        org 7C00h

DRV     equ 24h
EOC     equ 0FFF8h
BUF     equ 8000h

        jmp short start
        nop
        db 'RXDOS1.0'
        times 3Eh - ($ - $$) db 0

%include "stick.inc"

        ; root = reserved + FATs x FAT size; data after the root's sectors
        ; (FAT16: all of these fit 16 bits)
        movzx eax, byte [bp+10h]
        mul word [bp+16h]
        add ax, [bp+0Eh]
        mov cx, [bp+11h]
        shr cx, 4               ; root entries come in whole sectors
        push ax
        add ax, cx
        mov [bp+V_DATA], eax
        pop ax
        mov bx, BUF
.root:
        call read_sec
        mov di, bx
.entry:
        pusha
        mov si, sys_name
        mov cx, 11
        repe cmpsb
        popa
        je .found
        add di, 32
        cmp di, BUF + 512
        jb .entry
        inc eax
        loop .root
        jmp missing
.found:
        movzx esi, word [di+1Ah]
%include "load.inc"

; FAT16: cluster ESI -> the next one in ESI
next_clus:
        movzx eax, si
        shr ax, 8
        add ax, [bp+0Eh]
        mov bx, BUF
        call read_sec
        and si, 0FFh
        add si, si
        movzx esi, word [bx+si]
        ret

sys_name db 'RXDOSBIOSYS'
%include "stickio.inc"

code_end:
%if code_end - $$ > 510
%error "FAT16 boot sector too large"
%endif
        times 510 - ($ - $$) db 0
        dw 0AA55h
