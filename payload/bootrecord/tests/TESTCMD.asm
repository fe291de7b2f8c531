; TESTCMD.COM: a COMMAND.COM stand-in for boot tests. It only proves it was
; started: it prints one line and ends with exit code 0.
;
; Assemble: nasm -f bin -o TESTCMD.COM TESTCMD.asm

        cpu     8086
        org     100h

        mov     dx, Message
        mov     ah, 09h
        int     21h
        mov     ax, 4C00h
        int     21h

Message db      "TESTCMD running", 13, 10, "$"
