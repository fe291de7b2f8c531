; CTMOUSE - resident INT 33h mouse driver over the BIOS PS/2 pointing-device
; services (INT 15h AX=C2xxh). Text-mode cursor only: the cell under the
; pointer shows with inverted colours.
;
; INT 33h functions: 00h reset, 01h show, 02h hide, 03h position and
; buttons, 04h set position, 05h/06h button press/release counts, 07h/08h
; horizontal/vertical range, 0Bh motion counters (mickeys), 21h software
; reset. Coordinates are virtual pixels,
; 8 per character cell (0..639 x 0..199 on an 80 x 25 screen).
;
; Built with: nasm -f bin ctmouse.asm -o CTMOUSE.EXE

        bits 16
        cpu 8086
        org 0

HEADER_BYTES    equ 32
STACK_BYTES     equ 512

; --- MZ header: CS = SS = the load segment; DS = ES = PSP on entry --------
        section mzheader start=0
        db 'MZ'
        dw file_end % 512
        dw (file_end + 511) / 512
        dw 0                            ; relocations
        dw HEADER_BYTES / 16
        dw (STACK_BYTES + 15) / 16      ; extra paragraphs: the stack
        dw (STACK_BYTES + 15) / 16
        dw 0                            ; SS
        dw ((image_bytes + 1) & ~1) + STACK_BYTES ; SP
        dw 0                            ; checksum
        dw install                      ; IP
        dw 0                            ; CS
        dw HEADER_BYTES
        dw 0
        times HEADER_BYTES - ($ - $$) db 0

; Offsets below are relative to the load module, which starts after the
; header: that is where CS points.
        section image follows=mzheader vstart=0
image:

; ===================== resident part =======================================

; A second copy compares these bytes, found at the same offset in the
; segment that INT 33h points to.
signature:      db 'CORVMOUSE', 0
SIGNATURE_LEN   equ $ - signature

cursor_x:       dw 0            ; virtual pixels
cursor_y:       dw 0
min_x:          dw 0
max_x:          dw 639
min_y:          dw 0
max_y:          dw 199
buttons:        dw 0
mickey_x:       dw 0            ; motion since the last function 0Bh
mickey_y:       dw 0
visible:        dw -1           ; shown when 0 (function 01h increments)
drawn:          db 0            ; 1 while a cell on screen shows the cursor
drawn_offset:   dw 0            ; that cell's attribute byte in video memory
drawn_segment:  dw 0
press_count:    dw 0, 0, 0      ; per button (left, right, middle), since
press_x:        dw 0, 0, 0      ; the last function 05h for that button,
press_y:        dw 0, 0, 0      ; and where the last press happened
release_count:  dw 0, 0, 0      ; the same for releases (function 06h)
release_x:      dw 0, 0, 0
release_y:      dw 0, 0, 0
packet:         db 0, 0, 0      ; bytes of the packet being collected
packet_length:  db 0
saved_attr:     db 0            ; the cell's own attribute
shown_attr:     db 0            ; what we wrote there

; --- the text cursor --------------------------------------------------------

; Restores the cell under the cursor, unless the program has written
; something else there meanwhile.
erase_cursor:
        cmp byte [cs:drawn], 0
        je .done
        push ax
        push di
        push es
        mov es, [cs:drawn_segment]
        mov di, [cs:drawn_offset]
        mov al, [es:di]
        cmp al, [cs:shown_attr]
        jne .leave
        mov al, [cs:saved_attr]
        mov [es:di], al
.leave: mov byte [cs:drawn], 0
        pop es
        pop di
        pop ax
.done:  ret

; Draws the cursor at the current position when it is visible and the
; screen is in a text mode.
draw_cursor:
        cmp word [cs:visible], 0
        jne .done
        push ax
        push bx
        push cx
        push dx
        push di
        push es
        xor ax, ax
        mov es, ax
        mov al, [es:0x449]              ; BIOS video mode
        mov bx, 0xB800
        cmp al, 3
        jbe .text
        mov bx, 0xB000
        cmp al, 7
        jne .leave                      ; graphics: no text cursor
.text:  mov [cs:drawn_segment], bx
        mov ax, [cs:cursor_y]
        mov cl, 3
        shr ax, cl                      ; row
        mul word [es:0x44A]             ; columns per row
        mov di, [cs:cursor_x]
        shr di, cl                      ; column
        add di, ax
        shl di, 1
        inc di                          ; attribute byte
        add di, [es:0x44E]              ; start of the active page
        mov es, bx
        mov al, [es:di]
        mov [cs:saved_attr], al
        xor al, 0x77                    ; swap foreground and background
        mov [es:di], al
        mov [cs:shown_attr], al
        mov [cs:drawn_offset], di
        mov byte [cs:drawn], 1
.leave: pop es
        pop di
        pop dx
        pop cx
        pop bx
        pop ax
.done:  ret

; Keeps the position inside the ranges.
clamp_position:
        push ax
        mov ax, [cs:cursor_x]
        cmp ax, [cs:min_x]
        jge .x1
        mov ax, [cs:min_x]
.x1:    cmp ax, [cs:max_x]
        jle .x2
        mov ax, [cs:max_x]
.x2:    mov [cs:cursor_x], ax
        mov ax, [cs:cursor_y]
        cmp ax, [cs:min_y]
        jge .y1
        mov ax, [cs:min_y]
.y1:    cmp ax, [cs:max_y]
        jle .y2
        mov ax, [cs:max_y]
.y2:    mov [cs:cursor_y], ax
        pop ax
        ret

; --- the BIOS calls this for every packet ------------------------------------
; Stack after the far call: [bp+6] Z (0), [bp+8] Y, [bp+10] X, [bp+12] status.
; A BIOS that frames packets by counting bytes stays out of step for good
; once a byte is lost (say while the device starts). So the three bytes are
; taken as a stream and framed here again: a packet starts with a byte that
; has bit 3 set (always so in a first byte).
ps2_packet:
        push bp
        mov bp, sp
        pushf
        cli
        push ax
        mov al, [bp+12]
        call take_byte
        mov al, [bp+10]
        call take_byte
        mov al, [bp+8]
        call take_byte
        pop ax
        popf
        pop bp
        retf

take_byte:
        push bx
        xor bx, bx
        mov bl, [cs:packet_length]
        or bl, bl
        jnz .store
        test al, 0x08
        jz .done                        ; not a first byte: skip until one
.store: mov [cs:packet + bx], al
        inc bl
        mov [cs:packet_length], bl
        cmp bl, 3
        jb .done
        mov byte [cs:packet_length], 0
        call take_packet
.done:  pop bx
        ret

; packet: status (bits 0-2 buttons, 4/5 X/Y sign, 6/7 X/Y overflow), X, Y;
; Y grows upwards.
take_packet:
        push ax
        push bx
        push cx
        push si
        mov bl, [cs:packet]
        test bl, 0xC0
        jnz .buttons                    ; overflowed packet: no motion
        call erase_cursor
        mov al, [cs:packet + 1]
        xor ah, ah
        test bl, 0x10
        jz .xpos
        mov ah, 0xFF
.xpos:  add [cs:mickey_x], ax
        add [cs:cursor_x], ax
        mov al, [cs:packet + 2]
        xor ah, ah
        test bl, 0x20
        jz .ypos
        mov ah, 0xFF
.ypos:  neg ax
        add [cs:mickey_y], ax
        add [cs:cursor_y], ax
        call clamp_position
        call draw_cursor
.buttons:
        ; Count presses and releases, with the position where they happened.
        mov al, bl
        and al, 7
        mov ah, al
        xor ah, [cs:buttons]            ; changed buttons
        mov [cs:buttons], al
        xor si, si                      ; word offset of the button
        mov cx, 3
.next:  shr ah, 1
        jnc .same
        test al, 1
        jz .released
        inc word [cs:press_count + si]
        push word [cs:cursor_x]
        pop word [cs:press_x + si]
        push word [cs:cursor_y]
        pop word [cs:press_y + si]
        jmp .same
.released:
        inc word [cs:release_count + si]
        push word [cs:cursor_x]
        pop word [cs:release_x + si]
        push word [cs:cursor_y]
        pop word [cs:release_y + si]
.same:  shr al, 1
        add si, 2
        loop .next
        pop si
        pop cx
        pop bx
        pop ax
        ret

; --- INT 33h ----------------------------------------------------------------
int33:
        cmp ax, 0x00
        je fn_reset
        cmp ax, 0x21
        je fn_reset
        cmp ax, 0x01
        je fn_show
        cmp ax, 0x02
        je fn_hide
        cmp ax, 0x03
        je fn_status
        cmp ax, 0x04
        je fn_set_position
        cmp ax, 0x05
        je fn_presses
        cmp ax, 0x06
        je fn_releases
        cmp ax, 0x07
        je fn_range_x
        cmp ax, 0x08
        je fn_range_y
        cmp ax, 0x0B
        je fn_motion
        iret

fn_reset:
        call erase_cursor
        mov word [cs:visible], -1
        mov word [cs:min_x], 0
        mov word [cs:max_x], 639
        mov word [cs:min_y], 0
        mov word [cs:max_y], 199
        mov word [cs:cursor_x], 320
        mov word [cs:cursor_y], 96
        mov word [cs:mickey_x], 0
        mov word [cs:mickey_y], 0
        push cx
        push di
        push es
        push cs
        pop es
        mov di, press_count
        mov cx, (packet - press_count) / 2
        xor ax, ax
        cld
        rep stosw
        pop es
        pop di
        pop cx
        mov ax, 0xFFFF                  ; driver present
        mov bx, 2                       ; buttons
        iret

fn_show:
        cmp word [cs:visible], 0
        je .done
        inc word [cs:visible]
        call draw_cursor
.done:  iret

fn_hide:
        call erase_cursor
        dec word [cs:visible]
        iret

fn_status:
        mov bx, [cs:buttons]
        mov cx, [cs:cursor_x]
        mov dx, [cs:cursor_y]
        iret

fn_set_position:
        call erase_cursor
        mov [cs:cursor_x], cx
        mov [cs:cursor_y], dx
        call clamp_position
        call draw_cursor
        iret

; BX = button (0 left, 1 right, 2 middle). Answers AX = buttons down now,
; BX = presses (releases) of that button since the last call, CX/DX = where
; the last one happened; the count starts again at 0.
fn_presses:
        push si
        mov si, press_count
        jmp button_info
fn_releases:
        push si
        mov si, release_count
button_info:
        mov ax, [cs:buttons]
        cmp bx, 2
        ja .none
        shl bx, 1
        add si, bx
        mov bx, [cs:si]
        mov word [cs:si], 0
        mov cx, [cs:si + 6]             ; x: the next array
        mov dx, [cs:si + 12]            ; y: the one after
        pop si
        iret
.none:  xor bx, bx
        xor cx, cx
        xor dx, dx
        pop si
        iret

; CX = minimum, DX = maximum, in either order.
fn_range_x:
        push cx
        push dx
        cmp cx, dx
        jle .ordered
        xchg cx, dx
.ordered:
        mov [cs:min_x], cx
        mov [cs:max_x], dx
        jmp range_done

fn_range_y:
        push cx
        push dx
        cmp cx, dx
        jle .ordered
        xchg cx, dx
.ordered:
        mov [cs:min_y], cx
        mov [cs:max_y], dx
range_done:
        call erase_cursor
        call clamp_position
        call draw_cursor
        pop dx
        pop cx
        iret

fn_motion:
        mov cx, [cs:mickey_x]
        mov dx, [cs:mickey_y]
        mov word [cs:mickey_x], 0
        mov word [cs:mickey_y], 0
        iret

resident_end:

; ===================== installation (not kept) ===============================

install:
        mov ax, cs
        mov ds, ax
        mov [psp], es

        ; Is a driver there already? Ours carries the signature; any other
        ; answers function 00h with AX=FFFFh.
        mov ax, 0x3533
        int 0x21                        ; ES:BX = INT 33h
        mov ax, es
        or ax, bx
        jz no_driver
        mov di, bx
        sub di, int33 - signature
        mov si, signature
        mov cx, SIGNATURE_LEN
        repe cmpsb
        je .ours
        xor ax, ax
        int 0x33
        cmp ax, 0xFFFF
        jne no_driver
        mov dx, msg_other
        jmp refuse
.ours:  mov dx, msg_twice
refuse: mov ah, 0x09
        int 0x21
        mov ax, 0x4C01
        int 0x21

no_driver:
        ; Find the pointing device: initialise for 3-byte packets, hook
        ; our packet handler, enable.
        mov ax, 0xC205
        mov bh, 3
        int 0x15
        jc no_device
        mov ax, 0xC207
        push cs
        pop es
        mov bx, ps2_packet
        int 0x15
        jc no_device
        mov ax, 0xC200
        mov bh, 1
        int 0x15
        jc no_device

        mov ax, 0x2533
        mov dx, int33                   ; DS = CS
        int 0x21
        mov dx, msg_installed
        mov ah, 0x09
        int 0x21

        ; Free our copy of the environment and stay resident: the PSP plus
        ; the resident part of the load module.
        mov es, [psp]
        mov es, [es:0x2C]
        mov ax, es
        or ax, ax
        jz keep
        mov ah, 0x49
        int 0x21
keep:   mov ax, 0x3100
        mov dx, 0x10 + (resident_end - image + 15) / 16
        int 0x21

no_device:
        ; Leave the BIOS with no handler of ours behind.
        mov ax, 0xC200
        mov bh, 0
        int 0x15
        mov ax, 0xC207
        xor bx, bx
        mov es, bx
        int 0x15
        mov dx, msg_no_device
        mov ah, 0x09
        int 0x21
        mov ax, 0x4C02
        int 0x21

psp:            dw 0
msg_installed:  db 'Corvane mouse driver installed.', 13, 10, '$'
msg_twice:      db 'Corvane mouse driver is already installed.', 13, 10, '$'
msg_other:      db 'Another mouse driver is already installed.', 13, 10, '$'
msg_no_device:  db 'No PS/2 mouse found; mouse driver not installed.', 13, 10, '$'

image_end:
image_bytes     equ image_end - image
file_end        equ HEADER_BYTES + image_bytes
