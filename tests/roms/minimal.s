; The smallest useful cartridge: sets up the stack and spins.
.include "ines.inc"
INES_HEADER 1, 1, $01, $00

.segment "CODE"
reset:
    sei
    ldx #$FF
    txs
spin:
    jmp spin
nmi:
irq:
    rti

.segment "VECTORS"
    .word nmi, reset, irq

.segment "CHARS"
    ; tile 0 blank, tile 1 a solid block of colour 3
    .res 16, $00
    .res 16, $FF
