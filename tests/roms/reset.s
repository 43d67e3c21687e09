; Reset counter: every pass through the reset handler adds one to $0300, which a reset keeps
; (RAM is not cleared), and paints the backdrop with a colour chosen by the count:
; 1 red ($16), 2 green ($2A), 3 blue ($12), 4 and up white ($30).
.include "ines.inc"
INES_HEADER 1, 1, $00, $00

count = $0300

.segment "CODE"
reset:
    sei
    ldx #$FF
    txs
    lda #$00
    sta $2001           ; rendering off while the palette changes
    inc count
    lda $2002
    lda #$3F
    sta $2006
    lda #$00
    sta $2006
    ldx count
    cpx #4
    bcc :+
    ldx #4
:   lda colours, x
    sta $2007
    lda #$08
    sta $2001           ; background on: an empty nametable shows the backdrop
spin:
    jmp spin
nmi:
irq:
    rti

colours:
    .byte $0F, $16, $2A, $12, $30

.segment "VECTORS"
    .word nmi, reset, irq
