; RXDOS.SYS: the Rx-DOS kernel. Loaded by RXDOSBIO.SYS at KSEG:0000 and
; entered with DL = boot drive and DH = 0 (A: is the boot disk, through
; RXDOSBIO) or 1 (a hard disk's FAT16/32 volume starting at sector EBX). Offers INT 21h (see payload/README.md),
; INT 20h, 22h-24h and 2Fh, then runs RXDOSCMD.EXE from the boot drive.

        bits 16
        cpu 386
        org 0

KSEG            equ 0100h
BIOSEG          equ 0070h
MAXSFT          equ 20
SFTSIZE         equ 48
JFTSIZE         equ 20
MAXDRV          equ 10          ; A: to J:
DRVSIZE         equ 16          ; a drives entry, laid out as d_bios..d_length
CWDSIZE         equ 72
CWD_CL          equ 0           ; dword: cluster of the current folder
CWD_PATH        equ 4           ; its text, without drive and leading backslash

; SFT entry fields
SF_REF          equ 0           ; byte: handles referring to it
SF_FLAGS        equ 1           ; byte: see SFF_*
SF_MODE         equ 2
SF_ATTR         equ 3
SF_START        equ 4           ; dword: first cluster
SF_SIZE         equ 8           ; dword
SF_POS          equ 12          ; dword
SF_DLBA         equ 16          ; dword: sector holding the directory entry
SF_DOFF         equ 20          ; word: offset of the entry in that sector
SF_CCL          equ 22          ; dword: cluster cached for SF_CIDX
SF_CIDX         equ 26          ; dword
SF_TIME         equ 30
SF_DATE         equ 32
SF_DRV          equ 34          ; byte: drive (0 = A:)
SFF_CON         equ 01h
SFF_NUL         equ 02h
SFF_STAMPED     equ 20h         ; date/time set through 5701h
SFF_DIRTY       equ 80h

ERR_FUNC        equ 1
ERR_NOFILE      equ 2
ERR_NOPATH      equ 3
ERR_NOHANDLE    equ 4
ERR_ACCESS      equ 5
ERR_HANDLE      equ 6
ERR_ARENA       equ 7
ERR_NOMEM       equ 8
ERR_BLOCK       equ 9
ERR_FORMAT      equ 0Bh
ERR_DATA        equ 0Dh
ERR_DRIVE       equ 0Fh
ERR_CURDIR      equ 10h
ERR_NOMORE      equ 12h

        jmp near kinit
        db 'RX'                 ; checked by the loader

; ---------------------------------------------------------------- state
; The caller's registers, in the order they sit on its stack.
r_es    dw 0
r_ds    dw 0
r_bp    dw 0
r_di    dw 0
r_si    dw 0
r_dx    dw 0
r_cx    dw 0
r_bx    dw 0
r_ax    dw 0
r_ip    dw 0
r_cs    dw 0
r_flags dw 0

user_sp dw 0
user_ss dw 0
cur_psp dw 0
root_psp dw 0
dta_off dw 80h
dta_seg dw 0
first_mcb dw 0
last_ret dw 0                   ; AL = exit code, AH = how the program ended
break_flag db 0
pending_scan db 0
boot_drive db 0
boot_direct db 0                ; started from a hard disk's partition
boot_start dd 0                 ; its first sector
boot_letter db 0                ; the boot volume's drive (0 = A:)

; the drives: A: is entry 0
drive_count     db 1
a_present       db 1            ; A: is a drive (else its letter is free)
b_present       db 0            ; B: likewise
cur_disk        db 0
mnt_drive       db 0FFh         ; the mounted drive, FFh none
mnt_try         db 0
; the mounted drive (the layout of a drives entry)
d_bios          db 0
d_ext           db 0            ; INT 13h AH=42h/43h work
d_direct        db 0            ; 0: through RXDOSBIO (the boot floppy)
                db 0
d_spt           dw 18
d_heads         dw 2
d_start         dd 0            ; first sector of the volume on the disk
d_length        dd 0FFFFFFFFh   ; sectors of the volume
; and its file system
spc             db 1
reserved        dw 1
fats            db 2
fat_type        db 12
root_entries    dw 224
total_secs      dd 2880
fat_secs        dd 9
root_lba        dd 0
root_secs       dw 0
data_lba        dd 0
max_cluster     dd 0
root_clus       dd 0
fsinfo_lba      dw 0
clus_bytes      dw 512
ents_per_clus   dw 16
buf_lba         dd 0FFFFFFFFh
fat_lba         dd 0FFFFFFFFh   ; FAT sector held in fatsec
fat_dirty       db 0
fat_err         db 0
fat_wrote       db 0
dc_dir          dd 0FFFFFFFFh   ; directory cursor: cluster dc_idx of dc_dir
dc_idx          dw 0
dc_cl           dd 0
walk_left       dd 0
br_mark         dd 0            ; cycle check of the directory cursor's walk
br_power        dw 1
br_steps        dw 0
alloc_next      dd 2            ; where the search for a free cluster starts
ent_lba         dd 0
p_dir           dd 0
fd_dir          dd 0
x_clus          dd 0
x_cwd           dw 0
rn_dir          dd 0
rn_lba          dd 0
rn_off          dw 0
rn_drv          db 0
dio_op          db 0
dio_sec         db 0
dio_tries       db 0
dio_stat        db 0
dio_lba         dd 0
dap             db 16, 0
dap_count       dw 1
dap_off         dw 0
dap_seg         dw 0
dap_lba         dd 0, 0
hd_count        db 0
hd_index        db 0
hd_pass         db 0
hd_first        db 0

shell_path      db 'A:\RXDOSCMD.EXE', 0
init_env        db 'COMSPEC='
env_comspec     db 'A:\RXDOSCMD.EXE', 0, 'PATH='
env_path        db 'A:\', 0, 0
init_env_len    equ $ - init_env
shell_tail      db 0, 13
shell_pb        dw 0, shell_tail, KSEG, 0, 0, 0, 0

; ---------------------------------------------------------------- entry
kinit:
        cli
        mov ax, cs
        mov ds, ax
        mov es, ax
        mov ss, ax
        mov sp, init_stack_top
        sti
        cld
        mov [boot_drive], dl
        mov [boot_direct], dh
        mov [boot_start], ebx
        ; clear the uninitialised data
        mov di, bss_start
        mov cx, bss_end - bss_start
        xor al, al
        rep stosb
        mov word [buf_lba], 0FFFFh

        cmp dh, 1
        je .harddisk
        ; A: is the boot floppy, through RXDOSBIO
        mov [drives], dl
        mov dword [drives+12], 0FFFFFFFFh
        call find_drives
        jmp short .mount
.harddisk:
        ; a partition of a hard disk: its own letter in the drive order,
        ; and the names the system starts with on that drive
        mov byte [a_present], 0
        call find_drives
        call boot_volume
        jc .nodisk
        mov [boot_letter], al
        mov [cur_disk], al
        add al, 'A'
        mov [shell_path], al
        mov [env_comspec], al
        mov [env_path], al
        mov [noshell_drive], al
.mount:
        mov al, [boot_letter]
        call drv_mount
        jc .nodisk

        ; interrupt vectors
        xor ax, ax
        mov es, ax
        cli
        mov word [es:20h*4], int20
        mov [es:20h*4+2], cs
        mov word [es:21h*4], int21
        mov [es:21h*4+2], cs
        mov word [es:22h*4], exec_return
        mov [es:22h*4+2], cs
        mov word [es:23h*4], int23
        mov [es:23h*4+2], cs
        mov word [es:24h*4], int24
        mov [es:24h*4+2], cs
        mov word [es:2Fh*4], int2f
        mov [es:2Fh*4+2], cs
        mov word [es:25h*4], int25
        mov [es:25h*4+2], cs
        mov word [es:26h*4], int25
        mov [es:26h*4+2], cs
        sti

        ; the console is SFT 0 (handles 0-2 and 4), AUX-like handle 3 too
        mov byte [sft+SF_REF], 5
        mov byte [sft+SF_FLAGS], SFF_CON
        mov byte [sft+SF_MODE], 2

        ; memory arena right after the kernel
        mov ax, cs
        add ax, (kernel_end - $$ + 15) / 16
        mov [first_mcb], ax
        mov es, ax
        int 12h                 ; KB of conventional memory
        shl ax, 6
        sub ax, [first_mcb]
        dec ax
        mov byte [es:0], 'Z'
        mov word [es:1], 0
        mov [es:3], ax

        ; the kernel's own process: a PSP and the initial environment
        mov word [cur_psp], 8   ; owner until the PSP exists
        mov bx, (init_env_len + 15) / 16
        call mem_alloc
        jc .nomem
        mov es, ax
        xor di, di
        mov si, init_env
        mov cx, init_env_len
        rep movsb
        push ax
        mov bx, 16
        call mem_alloc
        pop dx
        jc .nomem
        mov [cur_psp], ax
        mov es, ax
        xor di, di
        mov cx, 128
        xor ax, ax
        rep stosw
        mov [es:2Ch], dx
        mov word [es:0], 20CDh
        mov ax, es
        add ax, 16
        mov [es:2], ax
        mov [es:16h], es
        mov [root_psp], es
        mov word [es:0Ah], root_restart
        mov [es:0Ch], cs
        mov dword [es:18h], 0   ; handles 0-4 on the console
        mov byte [es:1Ch], 0
        mov cx, JFTSIZE - 5
        mov di, 1Dh
        mov al, 0FFh
        rep stosb
        mov word [es:32h], JFTSIZE
        mov word [es:34h], 18h
        mov [es:36h], es
        mov word [es:50h], 21CDh
        mov byte [es:52h], 0CBh
        ; owner of both blocks: the kernel's PSP
        mov ax, es
        dec ax
        mov es, ax
        mov [es:1], cs
        mov ax, dx
        dec ax
        mov es, ax
        mov [es:1], cs
        mov ax, [cur_psp]
        mov [dta_seg], ax

.shell:
        push cs
        pop es
        mov dx, shell_path
        mov bx, shell_pb
        mov ax, 4B00h
        int 21h
        jc .noshell
        mov si, msg_restart
        call con_puts
        jmp .shell
.noshell:
        mov si, msg_noshell
        jmp halt
.nomem:
        mov si, msg_nomem
        jmp halt
.nodisk:
        mov si, msg_nodisk
halt:
        call con_puts
.hlt:
        sti
        hlt
        jmp .hlt

msg_restart db 13, 10, 'Rx-DOS: command interpreter ended, starting it again', 13, 10, 0
msg_noshell db 13, 10, 'Rx-DOS: cannot run '
noshell_drive db 'A:\RXDOSCMD.EXE. System halted.', 0
msg_nomem   db 13, 10, 'Rx-DOS: not enough memory. System halted.', 0
msg_nodisk  db 13, 10, 'Rx-DOS: cannot read the boot disk. System halted.', 0

; ---------------------------------------------------------------- small interrupts
int20:
        mov ax, 4C00h
        int 21h
int23:
        iret                    ; Ctrl-C does not stop programs
int24:
        mov al, 3               ; fail the call
        iret
; INT 25h/26h (absolute sectors): not offered, INT 21h AX=7305h reads
; instead. They fail as DOS does, returning with RETF and the flags left on
; the stack.
int25:
        mov ax, 0207h           ; bad request
        stc
        retf
int2f:
        or al, al
        jnz .out
        xor al, al              ; installation checks: nothing is installed
.out:
        iret

; ---------------------------------------------------------------- INT 21h
int21:
        push ax
        push bx
        push cx
        push dx
        push si
        push di
        push bp
        push ds
        push es
        mov ax, cs
        mov ds, ax
        mov [user_ss], ss
        mov [user_sp], sp
        cli
        mov ss, ax
        mov sp, kstack_top
        sti
        cld
        mov byte [fat_err], 0
        call load_frame
        and word [r_flags], 0FFFEh
        mov al, [r_ax+1]
        cmp al, LAST_FUNC
        ja .bad
        xor ah, ah
        mov bx, ax
        add bx, bx
        mov bp, [func_table+bx]
        mov ax, [r_ax]
        mov bx, [r_bx]
        mov cx, [r_cx]
        mov dx, [r_dx]
        mov si, [r_si]
        mov di, [r_di]
        call bp
        jnc int21_ret
        jmp short .err
.bad:
        mov ax, ERR_FUNC
.err:
        mov [r_ax], ax
        or word [r_flags], 1
int21_ret:
        cli
        mov ss, [user_ss]
        mov sp, [user_sp]
        push ss
        pop es
        mov di, sp
        mov si, r_es
        mov cx, 12
        rep movsw
        pop es
        pop ds
        pop bp
        pop di
        pop si
        pop dx
        pop cx
        pop bx
        pop ax
        iret

; copy the frame at user_ss:user_sp into r_es..r_flags
load_frame:
        push ds
        push cs
        pop es
        mov di, r_es
        lds si, [user_sp]
        mov cx, 12
        rep movsw
        pop ds
        ret

func_table:
        dw f_terminate, f_con_in_echo, f_con_out, f_bad, f_bad, f_bad, f_direct_con, f_raw_in    ; 00-07
        dw f_raw_in, f_print, f_line_in, f_in_status, f_flush_in, f_bad, f_select_disk, f_bad    ; 08-0F
        times 9 dw f_bad                                                                         ; 10-18
        dw f_cur_disk                                                                            ; 19
        dw f_set_dta                                                                             ; 1A
        times 10 dw f_bad                                                                        ; 1B-24
        dw f_set_vector                                                                          ; 25
        times 4 dw f_bad                                                                         ; 26-29
        dw f_get_date, f_bad, f_get_time, f_bad, f_bad, f_get_dta, f_version, f_keep            ; 2A-31
        dw f_bad, f_break, f_bad, f_get_vector, f_free_space, f_bad, f_bad, f_mkdir             ; 32-39
        dw f_rmdir, f_chdir, f_create, f_open, f_close, f_read, f_write, f_delete               ; 3A-41
        dw f_seek, f_attrib, f_ioctl, f_dup, f_bad, f_getcwd, f_alloc, f_free                   ; 42-49
        dw f_resize, f_exec, f_exit, f_retcode, f_findfirst, f_findnext, f_set_psp, f_get_psp   ; 4A-51
        times 4 dw f_bad                                                                         ; 52-55
        dw f_rename, f_filetime                                                                  ; 56-57
        times 10 dw f_bad                                                                        ; 58-61
        dw f_get_psp                                                                             ; 62
        times 16 dw f_bad                                                                        ; 63-72
        dw f_fat32                                                                               ; 73
LAST_FUNC equ ($ - func_table) / 2 - 1

f_bad:
        mov ax, ERR_FUNC
        stc
        ret

; set AL of the caller
set_al:
        mov [r_ax], al
        clc
        ret

%include "kcon.inc"
%include "kdisk.inc"
%include "kfile.inc"
%include "kmem.inc"
%include "kexec.inc"

; ---------------------------------------------------------------- data areas
        align 16
bss_start:
secbuf          equ bss_start
fatsec          equ secbuf + 512
drives          equ fatsec + 512                    ; MAXDRV * DRVSIZE
cwds            equ drives + MAXDRV * DRVSIZE       ; MAXDRV * CWDSIZE
sft             equ cwds + MAXDRV * CWDSIZE
pathbuf         equ sft + MAXSFT * SFTSIZE          ; 128
pathbuf2        equ pathbuf + 128                   ; 128
compbuf         equ pathbuf2 + 128                  ; 16
fcbname         equ compbuf + 16                    ; 12
fcbname2        equ fcbname + 12                    ; 12
dent            equ fcbname2 + 12                   ; 32
hdrbuf          equ dent + 32                       ; 32
linebuf         equ hdrbuf + 32                     ; 130
vars            equ linebuf + 130                   ; 64 bytes of words
kstack          equ vars + 64
kstack_top      equ kstack + 1536
init_stack      equ kstack_top
init_stack_top  equ init_stack + 512
bss_end         equ init_stack_top
kernel_end      equ bss_end

; scratch words
p_last_empty    equ vars + 2
fd_idx          equ vars + 6
fd_attr         equ vars + 8
ent_off         equ vars + 12
ent_idx         equ vars + 14
con_pend_len    equ vars + 16
con_pend_pos    equ vars + 18
x_seg           equ vars + 20
x_env           equ vars + 22
x_size          equ vars + 24
x_sft           equ vars + 26
x_imgparas      equ vars + 28
x_tmp           equ vars + 30
x_tmp2          equ vars + 32
rw_left         equ vars + 34
rw_done         equ vars + 36
rw_off          equ vars + 38
rw_seg          equ vars + 40
x_pb_off        equ vars + 42
x_pb_seg        equ vars + 44
x_relocs        equ vars + 46
x_isexe         equ vars + 48
rw_extend       equ vars + 50
