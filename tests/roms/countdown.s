; Runs about 33000 instructions, then stops by itself on opcode $02, which the CPU refuses:
; a program that ends whatever a test types at the debugger meanwhile.
.include "ines.inc"
INES_HEADER 1, 1, $00, $00

.segment "CODE"
reset:
    sei
    ldx #$FF
    txs
    ldy #$40
outer:
    ldx #$00
inner:
    dex
    bne inner
    dey
    bne outer
    .byte $02
nmi:
irq:
    rti

.segment "VECTORS"
    .word nmi, reset, irq
