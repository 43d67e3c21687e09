; NMI counter: the vertical-blank NMI is switched on and each NMI adds 1 to a 16-bit
; counter; the main program only spins. Nothing is drawn (the picture shows the backdrop).
;
; RAM:
;   $0000  NMI count, low byte
;   $0001  NMI count, high byte
;
; After the program has run through n vertical-blank steps with NMI on, the count is n.

.include "ines.inc"
INES_HEADER 1, 1, $00, $00

.segment "CODE"
reset:
    sei
    cld
    ldx #$FF
    txs
    lda #0
    sta $2001                           ; picture off
    sta $00
    sta $01
    lda #$80                            ; NMI at every vertical-blank step
    sta $2000
spin:
    jmp spin

nmi:
    inc $00
    bne @done
    inc $01
@done:
irq:
    rti

.segment "VECTORS"
    .word nmi, reset, irq

.segment "CHARS"
    .res 16, $00
