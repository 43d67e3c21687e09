; Ends a run at once: the first instruction is opcode $02, which the CPU refuses, so the
; program stops by itself. Every vector leads to the same byte.
.include "ines.inc"
INES_HEADER 1, 1, $00, $00

.segment "CODE"
halt:
    .byte $02
    ; Marks the end of the code so tests can tell the bank's bytes apart.
    .byte "HALT"

.segment "VECTORS"
    .word halt, halt, halt

.segment "CHARS"
    ; tile 0 blank, tile 1 a solid block of colour 3, last byte of the bank marked
    .res 16, $00
    .res 16, $FF
    .res $2000 - 33, $00
    .byte $C5
