; Benchmark cartridge for the bare emulation loop: it writes the two PPU control bytes once
; (picture and NMI off) and from then on only computes in RAM, forever. Run in fast mode, no
; frame after the first is drawn.
;
; Each round fills 256 bytes with a pseudo-random sequence, sorts them, adds them up through
; an indirect pointer and multiplies pairs of them with a shift-and-add subroutine: loads and
; stores in every addressing mode, compares, branches, shifts, arithmetic and calls.

.include "ines.inc"
.include "nes.inc"
INES_HEADER 1, 1, $00, $00

seed       = $00
pointer    = $02                        ; (zp),Y pointer to the buffer
sum        = $04                        ; 16-bit sum
factor_a   = $06
factor_b   = $07
product    = $08                        ; 16-bit product
swapped    = $0A
rounds     = $0B
buffer     = $0300

.segment "CODE"
reset:
    sei
    cld
    ldx #$FF
    txs
    lda #0
    sta PPU_CTRL
    sta PPU_MASK
    sta rounds
    lda #$A7
    sta seed
    lda #<buffer
    sta pointer
    lda #>buffer
    sta pointer + 1

round:
    ; Fill: an 8-bit shift register sequence (period 255, never 0), going on from round to round.
    ldx #0
    lda seed
@fill:
    lsr a
    bcc @no_tap
    eor #$B8
@no_tap:
    sta buffer,x
    inx
    bne @fill
    sta seed

    ; Sort: bubble passes until one swaps nothing.
@pass:
    lda #0
    sta swapped
    ldx #0
@compare:
    lda buffer,x
    cmp buffer + 1,x
    bcc @ordered
    beq @ordered
    ldy buffer + 1,x
    sta buffer + 1,x
    tya
    sta buffer,x
    inc swapped
@ordered:
    inx
    cpx #255
    bne @compare
    lda swapped
    bne @pass

    ; Sum through the pointer.
    lda #0
    sta sum
    sta sum + 1
    ldy #0
@sum:
    lda (pointer),y
    clc
    adc sum
    sta sum
    bcc @no_carry
    inc sum + 1
@no_carry:
    iny
    bne @sum

    ; Products of neighbouring pairs, folded into the sum.
    ldx #0
@products:
    lda buffer,x
    sta factor_a
    lda buffer + 1,x
    sta factor_b
    jsr multiply
    lda product
    eor sum
    sta sum
    lda product + 1
    adc sum + 1
    sta sum + 1
    inx
    inx
    bne @products

    inc rounds
    jmp round

; product = factor_a * factor_b (8 by 8 bits), by shifts and adds.
multiply:
    lda #0
    sta product + 1
    ldy #8
@bit:
    lsr factor_b
    bcc @no_add
    clc
    adc factor_a
@no_add:
    ror a
    ror product
    dey
    bne @bit
    sta product + 1
    rts

nmi:
irq:
    rti

.segment "VECTORS"
    .word nmi, reset, irq
