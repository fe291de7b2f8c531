; RXDOSCMD.EXE: the Rx-DOS command interpreter. Runs \AUTOEXEC.BAT, then
; reads commands: DIR, CD, TYPE, CLS, VER, ECHO, REM, PROMPT, PAUSE and
; programs (.COM, .EXE, .BAT in the current folder or along a given path).
; A small MZ program with one segment for code, data and stack.

        bits 16
        cpu 386

STACK_BYTES     equ 1024

; ---------------------------------------------------------------- MZ header
        section header start=0
        db 'MZ'
        dw image_bytes % 512
        dw (image_bytes + 511) / 512
        dw 0                    ; relocations
        dw 2                    ; header paragraphs
        dw (bss_bytes + 15) / 16 ; minimum extra
        dw (bss_bytes + 15) / 16 ; maximum extra: nothing more
        dw 0                    ; SS (relative)
        dw mem_top              ; SP
        dw 0
        dw start                ; IP
        dw 0                    ; CS
        dw 1Ch
        dw 0
        times 32 - ($ - $$) db 0

        section text follows=header vstart=0

start:
        mov ax, cs
        mov ds, ax
        mov [psp], es
        ; keep only what this program needs, so that programs can load
        mov bx, (mem_top - start + 15) / 16 + 10h
        mov ah, 4Ah
        int 21h
        push ds
        pop es
        mov dx, dta
        mov ah, 1Ah
        int 21h
        ; the start-up batch file
        mov si, autoexec
        mov di, cand
        call strcpy
        call load_batch

main_loop:
        cmp byte [in_batch], 0
        je .interactive
        call next_batch_line
        jc .endbatch
        mov si, line
        cmp byte [si], '@'
        je .quiet
        cmp byte [echo_on], 0
        je .run
        call show_prompt
        mov si, line
        call puts
        call crlf
        mov si, line
        jmp short .run
.quiet:
        inc si
        jmp short .run
.endbatch:
        mov byte [in_batch], 0
        jmp main_loop
.interactive:
        call show_prompt
        mov byte [inbuf], 127
        mov dx, inbuf
        mov ah, 0Ah
        int 21h
        call crlf
        xor bx, bx
        mov bl, [inbuf+1]
        mov byte [inbuf+2+bx], 0
        mov si, inbuf + 2
        mov di, line
        call strcpy
        mov si, line
.run:
        call exec_line
        jmp main_loop

; ---------------------------------------------------------------- batch
; load the batch file named in cand; in_batch = 1 when it could be read
load_batch:
        mov dx, cand
        mov ax, 3D00h
        int 21h
        jc .no
        mov bx, ax
        mov dx, batchbuf
        mov cx, BATCH_MAX - 1
        mov ah, 3Fh
        int 21h
        jc .close
        mov di, ax
        mov byte [batchbuf+di], 0
        mov word [batch_pos], batchbuf
        mov byte [in_batch], 1
.close:
        mov ah, 3Eh
        int 21h
.no:
        ret

; next line of the batch into line (zero-terminated). CF at the end.
next_batch_line:
        mov si, [batch_pos]
        cmp byte [si], 0
        je .end
        cmp byte [si], 1Ah
        je .end
        mov di, line
        mov cx, 127
.l:
        lodsb
        or al, al
        jz .eol0
        cmp al, 1Ah
        je .eol0
        cmp al, 13
        je .eol
        cmp al, 10
        je .eol
        jcxz .l
        stosb
        dec cx
        jmp .l
.eol0:
        dec si
        jmp short .done
.eol:
        cmp al, 13
        jne .done
        cmp byte [si], 10
        jne .done
        inc si
.done:
        mov byte [di], 0
        mov [batch_pos], si
        clc
        ret
.end:
        stc
        ret

; ---------------------------------------------------------------- commands
; run the command line at DS:SI
exec_line:
        call skip_spaces
        cmp byte [si], 0
        je .ret
        cmp byte [si], ':'      ; a label
        je .ret
        mov bx, builtins
.b:
        mov di, [bx]
        or di, di
        jz .program
        push si
        call match_word
        jnc .hit
        pop si
        add bx, 4
        jmp .b
.hit:
        add sp, 2
        jmp [bx+2]              ; SI after the word
.program:
        jmp run_program
.ret:
        ret

builtins:
        dw w_echo, c_echo
        dw w_rem, c_rem
        dw w_prompt, c_prompt
        dw w_cd, c_cd
        dw w_chdir, c_cd
        dw w_pause, c_pause
        dw w_dir, c_dir
        dw w_type, c_type
        dw w_cls, c_cls
        dw w_ver, c_ver
        dw 0
w_echo   db 'ECHO', 0
w_rem    db 'REM', 0
w_prompt db 'PROMPT', 0
w_cd     db 'CD', 0
w_chdir  db 'CHDIR', 0
w_pause  db 'PAUSE', 0
w_dir    db 'DIR', 0
w_type   db 'TYPE', 0
w_cls    db 'CLS', 0
w_ver    db 'VER', 0

; does the line at SI start with word DI (any case) followed by a
; delimiter? SI moves past the word; CF when not.
match_word:
.l:
        mov al, [di]
        or al, al
        jz .end
        mov ah, [si]
        call upcase_ah
        cmp ah, al
        jne .no
        inc si
        inc di
        jmp .l
.end:
        mov al, [si]
        call is_delim
        ret
.no:
        stc
        ret

; CF clear when AL ends a command word
is_delim:
        cmp al, 0
        je .yes
        cmp al, ' '
        je .yes
        cmp al, 9
        je .yes
        cmp al, '.'
        je .yes
        cmp al, '\'
        je .yes
        cmp al, '/'
        je .yes
        cmp al, ';'
        je .yes
        cmp al, ','
        je .yes
        cmp al, '='
        je .yes
        stc
        ret
.yes:
        clc
        ret

upcase_ah:
        cmp ah, 'a'
        jb .e
        cmp ah, 'z'
        ja .e
        sub ah, 20h
.e:
        ret

skip_spaces:
        cmp byte [si], ' '
        je .n
        cmp byte [si], 9
        je .n
        ret
.n:
        inc si
        jmp skip_spaces

; SI = argument text: leading spaces and one delimiter skipped, trailing
; spaces cut
arg_trim:
        cmp byte [si], 0
        je .e
        cmp byte [si], '\'
        je .e
        cmp byte [si], '.'
        je .e
        inc si                  ; the delimiter after the word
        call skip_spaces
        push si
.end:
        cmp byte [si], 0
        je .cut
        inc si
        jmp .end
.cut:
        pop di
.t:
        cmp si, di
        je .e
        cmp byte [si-1], ' '
        jne .e
        dec si
        mov byte [si], 0
        jmp .t
.e:
        mov si, di
        ret

c_rem:
        ret

c_echo:
        cmp byte [si], '.'
        jne .words
        inc si
        call puts
        jmp crlf
.words:
        cmp byte [si], 0
        je .state
        inc si
        mov di, si
        push si
        call skip_spaces
        cmp byte [si], 0
        pop si
        je .state
        push si
        call skip_spaces
        mov di, w_off
        call match_word
        jc .noff
        call skip_spaces
        cmp byte [si], 0
        jne .noff
        pop si
        mov byte [echo_on], 0
        ret
.noff:
        pop si
        push si
        call skip_spaces
        mov di, w_on
        call match_word
        jc .text
        call skip_spaces
        cmp byte [si], 0
        jne .text
        pop si
        mov byte [echo_on], 1
        ret
.text:
        pop si
        call puts
        jmp crlf
.state:
        mov si, msg_echo_on
        cmp byte [echo_on], 0
        jne .p
        mov si, msg_echo_off
.p:
        call puts
        jmp crlf
w_off db 'OFF', 0
w_on  db 'ON', 0

c_prompt:
        cmp byte [si], 0
        je .default
        inc si
        call skip_spaces
        cmp byte [si], 0
        je .default
        mov di, prompt_text
        mov cx, 63
.l:
        lodsb
        stosb
        or al, al
        jz .e
        loop .l
        mov byte [di], 0
.e:
        ret
.default:
        mov si, default_prompt
        mov di, prompt_text
        jmp strcpy

show_prompt:
        mov si, prompt_text
.l:
        lodsb
        or al, al
        jz .e
        cmp al, '$'
        je .meta
        call putc
        jmp .l
.meta:
        lodsb
        or al, al
        jz .e
        call upcase_al
        cmp al, 'P'
        je .path
        cmp al, 'G'
        je .gt
        cmp al, 'L'
        je .lt
        cmp al, 'N'
        je .drive
        cmp al, 'Q'
        je .eq
        cmp al, 'B'
        je .bar
        cmp al, '$'
        je .dollar
        cmp al, '_'
        je .nl
        cmp al, 'E'
        je .esc
        jmp .l
.path:
        push si
        call print_cwd
        pop si
        jmp .l
.gt:
        mov al, '>'
        jmp short .put
.lt:
        mov al, '<'
        jmp short .put
.drive:
        mov ah, 19h
        int 21h
        add al, 'A'
        jmp short .put
.eq:
        mov al, '='
        jmp short .put
.bar:
        mov al, '|'
        jmp short .put
.dollar:
        mov al, '$'
        jmp short .put
.esc:
        mov al, 27
        jmp short .put
.nl:
        call crlf
        jmp .l
.put:
        call putc
        jmp .l
.e:
        ret

upcase_al:
        cmp al, 'a'
        jb .e
        cmp al, 'z'
        ja .e
        sub al, 20h
.e:
        ret

print_cwd:
        call put_drive_root
        mov si, cwdbuf
        xor dl, dl
        mov ah, 47h
        int 21h
        jmp puts

; "X:\" for the current drive
put_drive_root:
        mov ah, 19h
        int 21h
        add al, 'A'
        mov [drive_root], al
        mov si, drive_root
        jmp puts

; the folder DIR lists: the folder part of cand, shown by visiting it
print_listed_dir:
        mov si, cand
        xor bx, bx              ; just past the last \ or :
.f:
        lodsb
        or al, al
        jz .found
        cmp al, '\'
        je .sep
        cmp al, ':'
        jne .f
.sep:
        mov bx, si
        jmp .f
.found:
        or bx, bx
        jz print_cwd
        ; remember where we are, visit the folder, print it, come back
        mov byte [dirsave], '\'
        mov si, dirsave + 1
        xor dl, dl
        mov ah, 47h
        int 21h
        mov al, [bx]
        push ax
        mov byte [bx], 0
        cmp byte [bx-1], ':'
        je .root
        cmp bx, cand + 1
        je .root
        mov byte [bx-1], 0      ; "A:\X\" -> "A:\X"
        mov dx, cand
        mov ah, 3Bh
        int 21h
        mov byte [bx-1], '\'
        jmp short .print
.root:
        call put_drive_root
        jmp short .back
.print:
        pushf
        call print_cwd
        popf
.back:
        pop ax
        mov [bx], al
        mov dx, dirsave
        mov ah, 3Bh
        int 21h
        ret

c_cd:
        call arg_trim
        cmp byte [si], 0
        je .show
        cmp byte [si+1], ':'    ; "cd X:" shows the folder
        jne .go
        cmp byte [si+2], 0
        je .show
.go:
        mov dx, si
        mov ah, 3Bh
        int 21h
        jnc .e
        mov si, msg_bad_dir
        call puts
        jmp crlf
.show:
        call print_cwd
        jmp crlf
.e:
        ret

c_pause:
        mov si, msg_pause
        call puts
        mov ah, 8
        int 21h
        or al, al
        jnz .n
        mov ah, 8
        int 21h
.n:
        jmp crlf

c_cls:
        mov ah, 0Fh
        int 10h
        xor ah, ah
        int 10h
        ret

c_ver:
        call crlf
        mov si, msg_ver
        call puts
        call crlf
        jmp crlf

c_type:
        call arg_trim
        cmp byte [si], 0
        je .syntax
        mov dx, si
        mov ax, 3D00h
        int 21h
        jc .nf
        mov bx, ax
.l:
        mov dx, iobuf
        mov cx, 512
        mov ah, 3Fh
        int 21h
        jc .close
        or ax, ax
        jz .close
        mov cx, ax
        mov si, iobuf
.c:
        lodsb
        cmp al, 1Ah
        je .close
        call putc
        loop .c
        jmp .l
.close:
        mov ah, 3Eh
        int 21h
        ret
.nf:
        mov si, msg_nofile
        call puts
        jmp crlf
.syntax:
        mov si, msg_syntax
        call puts
        jmp crlf

; DIR [pattern or folder]
c_dir:
        call arg_trim
        mov di, cand
        cmp byte [si], 0
        jne .arg
        mov si, star_dot_star
        call strcpy
        jmp short .list
.arg:
        call strcpy
        ; a folder (or a path ending in \ or :) gets \*.* appended
        mov si, cand
        call has_wild
        jnc .list
        mov al, [di-1]
        cmp al, '\'
        je .append_nosep
        cmp al, ':'
        je .append_nosep
        mov dx, cand
        mov cx, 10h
        mov ah, 4Eh
        int 21h
        jc .list
        test byte [dta+21], 10h
        jz .list
        mov al, '\'
        stosb
.append_nosep:
        mov si, star_dot_star
        call strcpy
.list:
        mov si, msg_dir_head
        call puts
        call print_listed_dir
        call crlf
        call crlf
        mov word [dir_files], 0
        mov word [dir_bytes], 0
        mov word [dir_bytes+2], 0
        mov dx, cand
        mov cx, 16h
        mov ah, 4Eh
        int 21h
        jc .none
.entry:
        call dir_line
        mov ah, 4Fh
        int 21h
        jnc .entry
        ; totals
        mov ax, [dir_files]
        xor dx, dx
        mov cx, 10
        call put_num
        mov si, msg_files
        call puts
        mov ax, [dir_bytes]
        mov dx, [dir_bytes+2]
        mov cx, 12
        call put_num
        mov si, msg_bytes
        call puts
        call crlf
        mov ah, 36h
        mov dl, 0
        int 21h
        cmp ax, 0FFFFh
        je .nofree
        mul cx
        mul bx
        mov cx, 34
        call put_num
        mov si, msg_free
        call puts
        call crlf
.nofree:
        ret
.none:
        mov si, msg_nofile
        call puts
        jmp crlf

dir_line:
        mov si, dta + 30
        ; the name, then the extension in a column; "." and ".." whole
        xor cx, cx
        cmp byte [si], '.'
        jne .n
.dots:
        lodsb
        or al, al
        jz .noext
        call putc
        inc cx
        jmp .dots
.n:
        lodsb
        or al, al
        jz .noext
        cmp al, '.'
        je .pad1
        call putc
        inc cx
        jmp .n
.pad1:
        cmp cx, 9
        jae .x
        mov al, ' '
        call putc
        inc cx
        jmp .pad1
.x:
        lodsb
        or al, al
        jz .noext
        call putc
        inc cx
        jmp .x
.noext:
.p2:
        cmp cx, 13
        jae .size
        mov al, ' '
        call putc
        inc cx
        jmp .p2
.size:
        test byte [dta+21], 10h
        jz .file
        mov si, msg_dirtag
        call puts
        jmp short .date
.file:
        inc word [dir_files]
        mov ax, [dta+26]
        mov dx, [dta+28]
        add [dir_bytes], ax
        adc [dir_bytes+2], dx
        mov cx, 12
        call put_num
.date:
        mov al, ' '
        call putc
        call putc
        mov ax, [dta+24]        ; date: yyyyyyym mmmddddd
        push ax
        shr ax, 5
        and ax, 15
        call put2
        mov al, '-'
        call putc
        pop ax
        push ax
        and ax, 31
        call put2
        mov al, '-'
        call putc
        pop ax
        shr ax, 9
        add ax, 1980
        xor dx, dx
        mov cx, 4
        call put_num
        mov al, ' '
        call putc
        call putc
        mov ax, [dta+22]
        push ax
        shr ax, 11
        call put2
        mov al, ':'
        call putc
        pop ax
        shr ax, 5
        and ax, 63
        call put2
        jmp crlf

; two digits of AX
put2:
        mov bl, 10
        div bl
        add ax, '00'
        push ax
        call putc
        pop ax
        mov al, ah
        jmp putc

; DX:AX right-aligned in CX columns
put_num:
        mov di, numbuf + 15
        mov byte [di], 0
        mov bx, 10
.l:
        push ax
        mov ax, dx
        xor dx, dx
        div bx
        mov si, ax
        pop ax
        div bx
        dec di
        add dl, '0'
        mov [di], dl
        mov dx, si
        dec cx
        or ax, ax
        jnz .l
        or dx, dx
        jnz .l
.pad:
        cmp cx, 0
        jle .out
        mov al, ' '
        call putc
        dec cx
        jmp .pad
.out:
        mov si, di
        jmp puts

; CF clear when the ASCIIZ at SI holds * or ?
has_wild:
        lodsb
        or al, al
        jz .no
        cmp al, '*'
        je .yes
        cmp al, '?'
        je .yes
        jmp has_wild
.no:
        stc
        ret
.yes:
        clc
        ret

; ---------------------------------------------------------------- programs
; SI = command line: program name, then its arguments
run_program:
        ; drive change commands: "C:" alone ("C:\PROG" is a program)
        cmp byte [si+1], ':'
        jne .name
        mov al, [si+2]
        cmp al, 0
        je .drive
        cmp al, ' '
        je .drive
        cmp al, 9
        jne .name
.drive:
        mov al, [si]
        call upcase_al
        sub al, 'A'
        cmp al, 26
        jae .nodrive
        mov dl, al
        mov ah, 0Eh
        int 21h
        mov ah, 19h
        int 21h
        cmp al, dl
        je .ret
.nodrive:
        mov si, msg_bad_drive
        call puts
        jmp crlf
.ret:
        ret
.name:
        ; the name: up to a space, tab or slash
        mov di, cand
        xor bx, bx              ; offset of the extension dot, if any
.nl:
        lodsb
        cmp al, ' '
        je .nend
        cmp al, 9
        je .nend
        cmp al, '/'
        je .nend
        or al, al
        jz .nend
        cmp al, '\'
        jne .nodot
        xor bx, bx
.nodot:
        cmp al, '.'
        jne .store
        mov bx, di
.store:
        cmp di, cand + 100
        jae .nl
        call upcase_al
        stosb
        jmp .nl
.nend:
        dec si
        mov [tail_src], si
        mov byte [di], 0
        or bx, bx
        jnz .given
        ; try the three extensions in DOS order
        mov [cand_end], di
        mov bx, ext_com
.try:
        mov si, bx
        mov di, [cand_end]
        call strcpy
        mov dx, cand
        mov cx, 06h
        mov ah, 4Eh
        int 21h
        jnc .found
        add bx, 5
        cmp byte [bx], 0
        jne .try
        jmp .bad
.given:
        mov dx, cand
        mov cx, 06h
        mov ah, 4Eh
        int 21h
        jc .bad
        mov si, bx              ; the extension the user typed
        mov di, bx
        jmp short .kind
.found:
        mov si, [cand_end]
.kind:
        inc si
        mov ax, [si]
        cmp ax, 'BA'
        jne .notbat
        cmp byte [si+2], 'T'
        jne .notbat
        jmp load_batch
.notbat:
        cmp ax, 'CO'
        jne .notcom
        cmp byte [si+2], 'M'
        je .exec
.notcom:
        cmp ax, 'EX'
        jne .bad
        cmp byte [si+2], 'E'
        jne .bad
.exec:
        ; command tail: the rest of the line as typed
        mov si, [tail_src]
        mov di, tail + 1
        xor cx, cx
.tl:
        lodsb
        or al, al
        jz .tend
        cmp cx, 126
        jae .tl
        stosb
        inc cx
        jmp .tl
.tend:
        mov byte [di], 13
        mov [tail], cl
        mov word [pblock], 0
        mov word [pblock+2], tail
        mov [pblock+4], ds
        mov word [pblock+6], fcb1
        mov [pblock+8], ds
        mov word [pblock+10], fcb2
        mov [pblock+12], ds
        push ds
        pop es
        mov dx, cand
        mov bx, pblock
        mov ax, 4B00h
        int 21h
        push cs
        pop ds
        jc .failed
        ret
.failed:
        cmp ax, 8
        jne .other
        mov si, msg_nomem
        call puts
        jmp crlf
.other:
        cmp ax, 3
        jbe .bad
        mov si, msg_cantrun
        call puts
        jmp crlf
.bad:
        mov si, msg_bad_command
        call puts
        jmp crlf

ext_com db '.COM', 0
ext_exe db '.EXE', 0
ext_bat db '.BAT', 0
        db 0

; ---------------------------------------------------------------- output
putc:
        push ax
        push dx
        mov dl, al
        mov ah, 2
        int 21h
        pop dx
        pop ax
        ret

puts:
        push ax
.l:
        lodsb
        or al, al
        jz .e
        call putc
        jmp .l
.e:
        pop ax
        ret

crlf:
        push si
        mov si, crlf_text
        call puts
        pop si
        ret

; copy ASCIIZ SI to DI (DI left on the terminator)
strcpy:
        lodsb
        stosb
        or al, al
        jnz strcpy
        dec di
        ret

; ---------------------------------------------------------------- data
autoexec        db '\AUTOEXEC.BAT', 0
default_prompt  db '$p$g', 0
prompt_text     db '$p$g', 0
                times 64 db 0
drive_root      db 'A:\', 0
star_dot_star   db '*.*', 0
crlf_text       db 13, 10, 0
msg_echo_on     db 'ECHO is on', 0
msg_echo_off    db 'ECHO is off', 0
msg_bad_dir     db 'Invalid directory', 0
msg_pause       db 'Press any key to continue . . .', 0
msg_ver         db 'Rx-DOS version 1.00', 0
msg_nofile      db 'File not found', 0
msg_syntax      db 'Required parameter missing', 0
msg_dir_head    db ' Directory of ', 0
msg_dirtag      db '       <DIR>', 0
msg_files       db ' file(s)', 0
msg_bytes       db ' bytes', 0
msg_free        db ' bytes free', 0
msg_bad_drive   db 'Invalid drive specification', 0
msg_nomem       db 'Not enough memory', 0
msg_cantrun     db 'Cannot run the program', 0
msg_bad_command db 'Bad command or file name', 0
echo_on         db 1
in_batch        db 0
fcb1            db 0, '           ', 0, 0, 0, 0
fcb2            db 0, '           ', 0, 0, 0, 0

image_end:
image_bytes     equ 32 + (image_end - start)

; ---------------------------------------------------------------- bss
BATCH_MAX       equ 4096
        absolute image_end
        alignb 2
psp             resw 1
batch_pos       resw 1
tail_src        resw 1
cand_end        resw 1
dir_files       resw 1
dir_bytes       resd 1
pblock          resw 7
inbuf           resb 130
line            resb 130
cand            resb 130
tail            resb 130
cwdbuf          resb 68
dirsave         resb 70
numbuf          resb 16
dta             resb 128
iobuf           resb 512
batchbuf        resb BATCH_MAX
                resb STACK_BYTES
        alignb 16
mem_top:
bss_bytes       equ mem_top - image_end
