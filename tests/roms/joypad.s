; Joypad test: every frame the pad is strobed and its eight buttons read, and the result is
; both kept in RAM and shown on screen.
;
; RAM:
;   $0010  buttons held, one bit each in read order: bit 7 A, 6 B, 5 Select, 4 Start,
;          3 Up, 2 Down, 1 Left, 0 Right (written whole after the eighth read)
;   $0011  frames seen, +1 after each reading (wraps at 256)
;   $0020-$0027  the eight bytes read from $4016, in the same order (A first)
;
; Screen: JOYPAD in white near the top, and a row of eight 16x16 boxes with labels under
; them: A, B, SE(lect), ST(art), U(p), D(own), L(eft), R(ight), left to right. A box
; whose button is up has a grey border and a black inside, its label is grey; while the
; button is held the box has a white border and a green inside, and its label is white.
; The boxes show the reading of the frame before.
;
; The loop polls the vertical-blank flag (NMI stays off), updates the eight attribute bytes
; of the boxes straight away, well before the picture reaches their rows, then reads the pad.

.include "ines.inc"
.include "nes.inc"
INES_HEADER 1, 1, $00, $00


buttons      = $10
frame_count  = $11
reading      = $12                      ; buttons being collected
raw          = $20                      ; eight bytes

BOX_ROW      = 12                       ; boxes on tile rows 12-13, labels on row 15
; Box i covers tile columns 4i+1 and 4i+2, inside attribute column i.
BOX_ATTRIBUTES = $23C0 + (BOX_ROW / 4) * 8
LIT          = $55                      ; palette 1 in all four quarters

.segment "CODE"
reset:
    sei
    lda #0
    sta PPU_CTRL                        ; NMI off
    sta PPU_MASK
    cld
    ldx #$FF
    txs
    tax
@clear_zp:
    sta $00,x
    inx
    bne @clear_zp

    LOAD_PALETTES palettes

    ; Nametable $2000 blank, attributes 0.
    lda #$20
    sta PPU_ADDR
    lda #$00
    sta PPU_ADDR
    ldy #4
    ldx #0
@clear_nt:
    sta PPU_DATA
    inx
    bne @clear_nt
    dey
    bne @clear_nt

    ; Boxes: upper tiles on BOX_ROW, lower tiles on the next row.
    lda #>($2000 + BOX_ROW * 32)
    sta PPU_ADDR
    lda #<($2000 + BOX_ROW * 32)
    sta PPU_ADDR
    ldx #1
    jsr box_row_tiles
    ldx #3
    jsr box_row_tiles                   ; continues on the next row (32 tiles later)

    ; Labels and title.
    ldx #0
@text:
    lda text,x
    beq @text_done
    sta PPU_ADDR
    inx
    lda text,x
    sta PPU_ADDR
    inx
@text_tile:
    lda text,x
    inx
    cmp #0
    beq @text
    sta PPU_DATA
    bne @text_tile
@text_done:

    ; Title in palette 1: attribute row 1, upper quarters.
    lda #$23
    sta PPU_ADDR
    lda #$C8
    sta PPU_ADDR
    lda #$05
    ldx #8
@title_attributes:
    sta PPU_DATA
    dex
    bne @title_attributes

    ; Background on at the start of a frame.
    bit PPU_STATUS
@first_vblank:
    bit PPU_STATUS
    bpl @first_vblank
    lda #0
    sta PPU_SCROLL
    sta PPU_SCROLL
    sta PPU_CTRL
    lda #%00001000                      ; background only
    sta PPU_MASK

main_loop:
@wait_vblank:
    bit PPU_STATUS
    bpl @wait_vblank

    ; One attribute byte per box, from the last reading, A (bit 7) first.
    lda #>BOX_ATTRIBUTES
    sta PPU_ADDR
    lda #<BOX_ATTRIBUTES
    sta PPU_ADDR
    lda buttons
    sta reading
    ldx #8
@attribute:
    lda #0
    asl reading
    bcc @store
    lda #LIT
@store:
    sta PPU_DATA
    dex
    bne @attribute
    bit PPU_STATUS
    lda #0
    sta PPU_SCROLL
    sta PPU_SCROLL

    ; Strobe, then eight reads: A, B, Select, Start, Up, Down, Left, Right.
    lda #1
    sta JOYPAD
    lda #0
    sta JOYPAD
    ldx #0
@read:
    lda JOYPAD
    sta raw,x
    lsr a
    rol reading
    inx
    cpx #8
    bne @read
    lda reading
    sta buttons
    inc frame_count
    jmp main_loop

; Write one row of the eight boxes: for each, a blank tile, the two box tiles X and X+1
; (X = 1: upper row, X = 3: lower row), another blank tile.
box_row_tiles:
    ldy #8
@box:
    lda #0
    sta PPU_DATA
    stx PPU_DATA
    inx
    stx PPU_DATA
    dex
    sta PPU_DATA
    dey
    bne @box
    rts

nmi:
irq:
    rti

.segment "RODATA"

palettes:
    .byte $0F, $00, $0F, $0F            ; backdrop (5,5,5); 0 button up: grey border and letters, black inside
    .byte $0F, $30, $0F, $2A            ; 1 held: white border and letters, green inside
    .byte $0F, $0F, $0F, $0F
    .byte $0F, $0F, $0F, $0F
    .res 16, $0F                        ; no sprites are shown

; Records: address high, address low, tiles, 0; a high byte of 0 ends the list.
.macro TEXT row, column, tiles
    .byte >($2000 + (row) * 32 + (column)), <($2000 + (row) * 32 + (column))
    .byte tiles, 0
.endmacro
text:
    TEXT 4, 13, "JOYPAD"
    TEXT 15, 1, "A   B   SE  ST  U   D   L   R"
    .byte 0

.segment "VECTORS"
    .word nmi, reset, irq

.segment "CHARS"
chr_start:
    .res 16, $00                        ; 0: blank
    ; 1-4: the corners of a box: border pixel value 1, inside value 3
    .res 8, $FF                         ; 1: upper left
    .byte $00, $7F, $7F, $7F, $7F, $7F, $7F, $7F
    .res 8, $FF                         ; 2: upper right
    .byte $00, $FE, $FE, $FE, $FE, $FE, $FE, $FE
    .res 8, $FF                         ; 3: lower left
    .byte $7F, $7F, $7F, $7F, $7F, $7F, $7F, $00
    .res 8, $FF                         ; 4: lower right
    .byte $FE, $FE, $FE, $FE, $FE, $FE, $FE, $00

; Letters at their ASCII codes, in pixel value 1.
.macro GLYPH code, r0, r1, r2, r3, r4, r5, r6, r7
    .res (code) * 16 - (* - chr_start), $00
    .byte r0, r1, r2, r3, r4, r5, r6, r7
    .res 8, $00
.endmacro
    GLYPH 'A', %00111000, %01101100, %11000110, %11000110, %11111110, %11000110, %11000110, %00000000
    GLYPH 'B', %11111100, %11000110, %11000110, %11111100, %11000110, %11000110, %11111100, %00000000
    GLYPH 'D', %11111000, %11001100, %11000110, %11000110, %11000110, %11001100, %11111000, %00000000
    GLYPH 'E', %11111110, %11000000, %11000000, %11111100, %11000000, %11000000, %11111110, %00000000
    GLYPH 'J', %00001110, %00000110, %00000110, %00000110, %11000110, %11000110, %01111100, %00000000
    GLYPH 'L', %11000000, %11000000, %11000000, %11000000, %11000000, %11000000, %11111110, %00000000
    GLYPH 'O', %01111100, %11000110, %11000110, %11000110, %11000110, %11000110, %01111100, %00000000
    GLYPH 'P', %11111100, %11000110, %11000110, %11111100, %11000000, %11000000, %11000000, %00000000
    GLYPH 'R', %11111100, %11000110, %11000110, %11111100, %11011000, %11001100, %11000110, %00000000
    GLYPH 'S', %01111100, %11000110, %11000000, %01111100, %00000110, %11000110, %01111100, %00000000
    GLYPH 'T', %11111100, %00110000, %00110000, %00110000, %00110000, %00110000, %00110000, %00000000
    GLYPH 'U', %11000110, %11000110, %11000110, %11000110, %11000110, %11000110, %01111100, %00000000
    GLYPH 'Y', %11001100, %11001100, %11001100, %01111000, %00110000, %00110000, %00110000, %00000000
