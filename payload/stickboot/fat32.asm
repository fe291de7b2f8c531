; Boot code of the stick's FAT32 partition, two sectors: the boot sector
; (the layout writes the BPB, 0Bh..59h) and the partition's reserved
; sector 2, which it loads to 0:7E00. Loads RXDOSBIO.SYS along the root
; directory's cluster chain.

        bits 16
        cpu 386
        org 7C00h

DRV     equ 40h
EOC     equ 0FFFFFF8h
BUF     equ 8000h

        jmp short start
        nop
        db 'RXDOS1.0'
        times 5Ah - ($ - $$) db 0

%include "stick.inc"

        mov eax, 2
        mov bx, 7E00h
        call read_sec
        cmp word [7FFEh], 0AA55h
        je second
        mov si, msg_code
        jmp fatal

%include "stickio.inc"
msg_code db 13, 10, 'Boot sector 2 damaged', 0

first_end:
%if first_end - $$ > 510
%error "FAT32 boot sector too large"
%endif
        times 510 - ($ - $$) db 0
        dw 0AA55h

; ---------------------------------------------------------------- sector 2
second:
        ; data = reserved + FATs x FAT size
        movzx eax, byte [bp+10h]
        mul dword [bp+24h]
        movzx ecx, word [bp+0Eh]
        add eax, ecx
        mov [bp+V_DATA], eax
        mov esi, [bp+2Ch]
        ; a looping root ends after 4096 clusters (65536 entries at least)
        mov word [bp+V_LEFT], 4096
.cluster:
        cmp esi, EOC
        jae missing
        cmp esi, 2
        jb missing
        dec word [bp+V_LEFT]
        jz missing
        lea eax, [esi-2]
        movzx ecx, byte [bp+0Dh]
        mul ecx
        add eax, [bp+V_DATA]
        mov bx, BUF
.sec:
        call read_sec
        mov di, bx
.entry:
        cmp byte [di], 0
        je missing
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
        loop .sec
        call next_clus
        jmp .cluster
.found:
        mov si, [di+14h]
        shl esi, 16
        mov si, [di+1Ah]
%include "load.inc"

; FAT32: cluster ESI -> the next one in ESI
next_clus:
        mov eax, esi
        shr eax, 7
        movzx ecx, word [bp+0Eh]
        add eax, ecx
        mov bx, BUF
        call read_sec
        and si, 7Fh
        shl si, 2
        mov esi, [bx+si]
        and esi, 0FFFFFFFh
        ret

sys_name db 'RXDOSBIOSYS'

second_end:
%if second_end - second > 510
%error "FAT32 second boot sector too large"
%endif
        times 1022 - ($ - $$) db 0
        dw 0AA55h
