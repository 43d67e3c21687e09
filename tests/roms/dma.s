; Sprite DMA: fills the page $0200-$02FF with byte i = i XOR $A5, writes $02 to $4014 and
; spins. The DMA copies one byte per instruction, so 256 instructions after the write
; sprite memory holds the same 256 bytes (sprite memory byte i = i XOR $A5).
;
; RAM:
;   $0200-$02FF  the pattern, byte at $0200 + i = i XOR $A5
;   $0000        $01 once the write to $4014 has been made, $00 before
;
; The picture stays off (0x2001 = 0), so the sprites are never drawn.

.include "ines.inc"
INES_HEADER 1, 1, $00, $00

.segment "CODE"
reset:
    sei
    cld
    ldx #$FF
    txs
    lda #0
    sta $2000                           ; no NMI
    sta $2001                           ; picture off
    sta $00
    tax
@fill:
    txa
    eor #$A5
    sta $0200,x
    inx
    bne @fill
    lda #$02
    sta $4014                           ; start the copy from $0200
    lda #$01
    sta $00
spin:
    jmp spin

nmi:
irq:
    rti

.segment "VECTORS"
    .word nmi, reset, irq

.segment "CHARS"
    .res 16, $00
