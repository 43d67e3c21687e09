; A still test picture for pixel-exact screenshots: background patterns in all four pixel
; values and all four palettes of an attribute byte, and sprites that show the flips,
; the palettes, a sprite behind the background and two overlapping sprites.
;
; Everything is written once with the picture switched off (0x2001 = 0); then background and
; sprites are switched on and the program spins with NMI off, so every frame is the same.
;
; Background (pattern table $1000): tile columns 4k..4k+3 show tile k on rows 0-15:
;   0 blank, 1/2/3 solid in pixel value 1/2/3, 4 vertical stripes (2 pixels each, values
;   0,1,2,3 from the left), 5 horizontal bands (values 0,1,2,3 from the top), 6 quadrants
;   (upper left 1, upper right 2, lower left 3, lower right 0), 7 nested squares (outer
;   ring 3, then 2, then 1, centre 2x2 value 0).
; Every attribute byte is $E4: in each 32x32 block the upper left 16x16 uses palette 0, the
; upper right palette 1, the lower left palette 2, the lower right palette 3.
; Rows 16-29 are blank except a block of solid value-3 tiles at columns 16-19, rows 18-19
; (palette 2 on its left half, palette 3 on its right half).
;
; Sprites (pattern table $0000): see sprite_table below.

.include "ines.inc"
.include "nes.inc"
INES_HEADER 1, 1, $00, $00


.segment "CODE"
reset:
    sei
    lda #0
    sta PPU_CTRL                        ; NMI off, sprites from $0000, increment 1
    sta PPU_MASK                        ; picture off while writing
    cld
    ldx #$FF
    txs

    ; Sprite page $0200 from the table, the rest of it off-screen.
    ldx #0
@sprites:
    lda sprite_table,x
    sta $0200,x
    inx
    cpx #sprite_table_end - sprite_table
    bne @sprites
    lda #$F0
@unused:
    sta $0200,x
    inx
    bne @unused
    lda #$02
    sta OAM_DMA                         ; 256 instructions; done long before the picture is on

    ; Palettes (every fourth entry is the shared backdrop).
    ldx #0
    LOAD_PALETTES palettes

    ; Nametable $2000: rows 0-15 of tile bands, rows 16-29 blank, then the attributes.
    lda #$20
    sta PPU_ADDR
    lda #$00
    sta PPU_ADDR
    ldy #16                             ; rows
@band_row:
    ldx #0
@band_column:
    txa
    lsr a
    lsr a                               ; tile = column / 4
    sta PPU_DATA
    inx
    cpx #32
    bne @band_column
    dey
    bne @band_row
    lda #0
    ldy #14 * 32 / 8                    ; 14 blank rows, 8 tiles per pass
@blank:
    ldx #8
@blank8:
    sta PPU_DATA
    dex
    bne @blank8
    dey
    bne @blank
    lda #$E4                            ; quarters: palette 0 UL, 1 UR, 2 LL, 3 LR
    ldx #64
@attributes:
    sta PPU_DATA
    dex
    bne @attributes

    ; The solid block for the behind-the-background sprite: columns 16-19, rows 18-19.
    lda #$22
    sta PPU_ADDR
    lda #$50                            ; $2000 + 18 * 32 + 16
    sta PPU_ADDR
    lda #3
    sta PPU_DATA
    sta PPU_DATA
    sta PPU_DATA
    sta PPU_DATA
    lda #$22
    sta PPU_ADDR
    lda #$70                            ; row 19
    sta PPU_ADDR
    lda #3
    sta PPU_DATA
    sta PPU_DATA
    sta PPU_DATA
    sta PPU_DATA

    ; Switch on right after a vertical-blank step, so the first frame is whole.
    bit PPU_STATUS
@vblank:
    bit PPU_STATUS
    bpl @vblank
    lda #0
    sta PPU_SCROLL
    sta PPU_SCROLL
    lda #%00010000                      ; background from $1000, sprites from $0000, NMI off
    sta PPU_CTRL
    lda #%00011000                      ; background and sprites on
    sta PPU_MASK
spin:
    jmp spin

nmi:
irq:
    rti

.segment "RODATA"

palettes:
    .byte $0F, $16, $2A, $12            ; backdrop (5,5,5); bg 0: red, green, blue
    .byte $0F, $27, $30, $14            ; bg 1: orange, white, purple
    .byte $0F, $28, $1C, $00            ; bg 2: yellow, teal, grey
    .byte $0F, $11, $38, $06            ; bg 3: blue, pale yellow, dark red
    .byte $0F, $30, $16, $2A            ; sprites 0: white, red, green
    .byte $0F, $38, $21, $15            ; sprites 1: pale yellow, light blue, pink-red
    .byte $0F, $3C, $19, $24            ; sprites 2: pale cyan, green, pink
    .byte $0F, $28, $13, $36            ; sprites 3: yellow, violet, salmon

; Y (the sprite covers lines Y+1..Y+8), tile, attributes, X.
sprite_table:
    .byte $F0, $00, $00, $00            ; 0: off-screen
    ; flips of tile 1 (the "F" flag), palette 0, lines 144-151
    .byte 143, $01, $00, 16             ; 1: no flip
    .byte 143, $01, $40, 40             ; 2: horizontal flip
    .byte 143, $01, $80, 64             ; 3: vertical flip
    .byte 143, $01, $C0, 88             ; 4: both flips
    ; tile 1 in the four sprite palettes, no flip, lines 168-175
    .byte 167, $01, $00, 16             ; 5: palette 0
    .byte 167, $01, $01, 40             ; 6: palette 1
    .byte 167, $01, $02, 64             ; 7: palette 2
    .byte 167, $01, $03, 88             ; 8: palette 3
    ; solid tile 2 (value 1), palette 1, lines 148-155, at the block's two edges
    .byte 147, $02, $21, 124            ; 9: behind: shows at x 124-127 (blank), hidden at 128-131 (block)
    .byte 147, $02, $01, 156            ; 10: in front: shows at x 156-163, over the block and beside it
    ; overlap, lines 192-199: sprite 12 wins every column it covers, even where it is transparent
    .byte 191, $02, $02, 176            ; 11: solid, palette 2, x 176-183
    .byte 191, $03, $03, 180            ; 12: frame with a hole, palette 3, x 180-187
sprite_table_end:

.segment "VECTORS"
    .word nmi, reset, irq

.segment "CHARS"
    ; Pattern table $0000: sprite tiles.
    .res 16, $00                        ; 0: blank
    ; 1: the "F" flag: top bar value 3, stem value 2, middle bar value 1, dot value 1
    ;   3333333.
    ;   33......
    ;   22......
    ;   221111..
    ;   22......
    ;   22......
    ;   22......
    ;   22.....1
    .byte %11111110, %11000000, %00000000, %00111100, %00000000, %00000000, %00000000, %00000001
    .byte %11111110, %11000000, %11000000, %11000000, %11000000, %11000000, %11000000, %11000000
    ; 2: solid, value 1
    .res 8, $FF
    .res 8, $00
    ; 3: a frame of value 3 with a 2x2 centre of value 2 and transparent ring between
    ;   33333333
    ;   3......3
    ;   3......3
    ;   3..22..3
    ;   3..22..3
    ;   3......3
    ;   3......3
    ;   33333333
    .byte %11111111, %10000001, %10000001, %10000001, %10000001, %10000001, %10000001, %11111111
    .byte %11111111, %10000001, %10000001, %10011001, %10011001, %10000001, %10000001, %11111111
    .res $1000 - 4 * 16, $00

    ; Pattern table $1000: background tiles.
    .res 16, $00                        ; 0: blank
    .res 8, $FF                         ; 1: solid value 1
    .res 8, $00
    .res 8, $00                         ; 2: solid value 2
    .res 8, $FF
    .res 16, $FF                        ; 3: solid value 3
    .res 8, %00110011                   ; 4: vertical stripes 0,1,2,3
    .res 8, %00001111
    ; 5: horizontal bands 0,1,2,3
    .byte $00, $00, $FF, $FF, $00, $00, $FF, $FF
    .byte $00, $00, $00, $00, $FF, $FF, $FF, $FF
    ; 6: quadrants 1 2 / 3 0
    .byte $F0, $F0, $F0, $F0, $F0, $F0, $F0, $F0
    .byte $0F, $0F, $0F, $0F, $F0, $F0, $F0, $F0
    ; 7: nested squares 3 / 2 / 1 / 0 from the edge in
    ;   33333333
    ;   32222223
    ;   32111123
    ;   32100123
    ;   32100123
    ;   32111123
    ;   32222223
    ;   33333333
    .byte %11111111, %10000001, %10111101, %10100101, %10100101, %10111101, %10000001, %11111111
    .byte %11111111, %11111111, %11000011, %11000011, %11000011, %11000011, %11111111, %11111111
