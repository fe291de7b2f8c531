; MZ header around the flat tiny-model image purgit.bin (linked at offset 0):
; CS = SS = the load segment, stack at the top of that 64 KB segment. The
; start-up code sets DS and ES itself. No relocations are needed.
        bits 16
        org 0

HEADER_BYTES equ 32

        db 'MZ'
        dw file_end % 512               ; bytes in the last page
        dw (file_end + 511) / 512       ; pages
        dw 0                            ; relocations
        dw HEADER_BYTES / 16            ; header paragraphs
        dw 0x1000 - image_paras         ; extra paragraphs: fill the segment
        dw 0x1000 - image_paras         ; and take no more
        dw 0                            ; SS
        dw 0xFFFE                       ; SP
        dw 0                            ; checksum
        dw 0                            ; IP
        dw 0                            ; CS
        dw HEADER_BYTES                 ; relocation table (empty)
        dw 0                            ; overlay
        times HEADER_BYTES - ($ - $$) db 0

image:  incbin "purgit.bin"            ; found through nasm -i
image_end:
image_paras equ (image_end - image + 15) / 16
file_end equ image_end - $$
