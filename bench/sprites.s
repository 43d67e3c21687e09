; Benchmark cartridge with a heavy picture: every frame is drawn with both name tables full of
; varied tiles and attributes, a scroll that moves in both directions, and all 64 sprites
; moving, eight of them on every line of eight bands of the screen.
;
; The main loop builds the next sprite page (all 64 sprites moved) while the NMI sends the
; finished one by sprite DMA and writes the new scroll through 0x2005.

.include "ines.inc"
.include "nes.inc"
INES_HEADER 1, 1, $01, $00              ; vertical mirroring: 0x2000 and 0x2400 side by side

CTRL_VALUE = %10010000                  ; NMI on, background from $1000, sprites from $0000
MASK_VALUE = %00011110                  ; background and sprites on

nmi_count  = $00
oam_page   = $01                        ; page the NMI sends ($02 or $03)
scroll_x   = $02
scroll_y   = $03
source     = $04                        ; pointers to the page just sent and the one being built
target     = $06
last_count = $08

.segment "CODE"
reset:
    sei
    cld
    ldx #$FF
    txs
    lda #0
    sta PPU_CTRL
    sta PPU_MASK
    sta nmi_count
    sta last_count
    sta scroll_x
    sta scroll_y
    sta source
    sta target

    ldx #0
    LOAD_PALETTES palettes

    ; Both name tables: tile (row * 7 + column * 3) mod 16, then attribute bytes that vary.
    lda #$20
    sta PPU_ADDR
    lda #$00
    sta PPU_ADDR
    jsr fill_table
    lda #$24
    sta PPU_ADDR
    lda #$00
    sta PPU_ADDR
    jsr fill_table

    ; The first sprite page: eight bands of eight sprites.
    ldx #0
@sprite:
    txa
    lsr a
    lsr a
    and #%00111000                      ; band g = sprite / 8, times 8
    sta $0200,x                         ; Y = band * 8 ...
    asl a
    asl a
    clc
    adc $0200,x                         ; ... + band * 32 = band * 40: lines 1 to 289 (wrapping)
    adc #12
    sta $0200,x
    txa
    lsr a
    lsr a
    and #3
    clc
    adc #1
    sta $0201,x                         ; tile 1-4
    txa
    lsr a
    lsr a
    and #3                              ; palette: sprite number mod 4
    sta $10
    txa
    and #%11100000                      ; behind and flip bits: by sprite number
    ora $10
    sta $0202,x
    txa
    asl a
    asl a
    asl a                               ; X = sprite number * 32, mod 256, plus the band
    adc $0200,x
    sta $0203,x
    inx
    inx
    inx
    inx
    bne @sprite
    lda #$02
    sta oam_page

    lda #CTRL_VALUE
    sta PPU_CTRL
    lda #MASK_VALUE
    sta PPU_MASK

main:
    lda nmi_count
@wait:
    cmp nmi_count
    beq @wait
    ; Build the other page from the one the NMI is sending.
    lda oam_page
    sta source + 1
    eor #$01
    sta target + 1
    ldy #0
@move:
    lda (source),y                      ; Y: one line down per frame
    clc
    adc #1
    sta (target),y
    iny
    lda (source),y                      ; tile
    sta (target),y
    iny
    lda (source),y                      ; attributes
    sta (target),y
    iny
    tya
    lsr a
    lsr a
    and #3                              ; X: 1 to 4 pixels right per frame
    sec
    adc (source),y
    sta (target),y
    iny
    bne @move
    lda target + 1
    sta oam_page
    jmp main

; 960 tile bytes and 64 attribute bytes through 0x2007.
fill_table:
    ldy #0                              ; row
@row:
    ldx #0                              ; column
@column:
    tya
    asl a
    asl a
    asl a
    sec
    sbc identity,y                      ; row * 7
    sta $10
    txa
    asl a
    adc identity,x                      ; column * 3
    adc $10
    and #$0F
    sta PPU_DATA
    inx
    cpx #32
    bne @column
    iny
    cpy #30
    bne @row
    ldx #0
@attribute:
    txa
    asl a
    asl a
    asl a
    eor identity,x
    sta PPU_DATA
    inx
    cpx #64
    bne @attribute
    rts

nmi:
    pha
    txa
    pha
    lda oam_page
    sta OAM_DMA
    bit PPU_STATUS                      ; the next 0x2005 write is the horizontal scroll
    inc scroll_x
    lda scroll_x
    sta PPU_SCROLL
    ldx scroll_y
    inx
    cpx #240
    bne @keep
    ldx #0
@keep:
    stx scroll_y
    stx PPU_SCROLL
    inc nmi_count
    pla
    tax
    pla
    rti

irq:
    rti

.segment "RODATA"
identity:
    .repeat 64, i
    .byte i
    .endrepeat

palettes:
    .byte $0F, $16, $2A, $12
    .byte $0F, $27, $30, $14
    .byte $0F, $28, $1C, $00
    .byte $0F, $11, $38, $06
    .byte $0F, $30, $16, $2A
    .byte $0F, $38, $21, $15
    .byte $0F, $3C, $19, $24
    .byte $0F, $28, $13, $36

.segment "VECTORS"
    .word nmi, reset, irq

.segment "CHARS"
    ; Pattern table $0000: sprite tiles 1-4 (0 blank): a ball, a ring, a diamond, a cross,
    ; each in all three colours.
    .res 16, $00
    .byte $3C, $7E, $FF, $FF, $FF, $FF, $7E, $3C    ; ball
    .byte $00, $18, $3C, $7E, $7E, $3C, $18, $00
    .byte $3C, $42, $81, $81, $81, $81, $42, $3C    ; ring
    .byte $3C, $7E, $C3, $81, $81, $C3, $7E, $3C
    .byte $18, $3C, $7E, $FF, $FF, $7E, $3C, $18    ; diamond
    .byte $00, $18, $24, $42, $42, $24, $18, $00
    .byte $18, $18, $18, $FF, $FF, $18, $18, $18    ; cross
    .byte $18, $18, $00, $E7, $E7, $00, $18, $18
    .res $1000 - 5 * 16, $00
    ; Pattern table $1000: background tiles 0-15 (the fill uses 0-15).
    .byte $00, $00, $00, $00, $00, $00, $00, $00,  $00, $00, $00, $00, $00, $00, $00, $00
    .byte $FF, $80, $80, $80, $80, $80, $80, $80,  $00, $00, $00, $00, $00, $00, $00, $00
    .byte $AA, $55, $AA, $55, $AA, $55, $AA, $55,  $00, $00, $00, $00, $00, $00, $00, $00
    .byte $00, $00, $00, $00, $00, $00, $00, $00,  $FF, $FF, $00, $00, $FF, $FF, $00, $00
    .byte $F0, $F0, $F0, $F0, $0F, $0F, $0F, $0F,  $FF, $FF, $FF, $FF, $00, $00, $00, $00
    .byte $18, $3C, $7E, $FF, $FF, $7E, $3C, $18,  $00, $18, $3C, $7E, $7E, $3C, $18, $00
    .byte $FF, $FF, $FF, $FF, $FF, $FF, $FF, $FF,  $00, $00, $00, $00, $00, $00, $00, $00
    .byte $00, $00, $00, $00, $00, $00, $00, $00,  $FF, $FF, $FF, $FF, $FF, $FF, $FF, $FF
    .byte $FF, $FF, $FF, $FF, $FF, $FF, $FF, $FF,  $FF, $FF, $FF, $FF, $FF, $FF, $FF, $FF
    .byte $81, $42, $24, $18, $18, $24, $42, $81,  $01, $02, $04, $08, $10, $20, $40, $80
    .byte $CC, $CC, $33, $33, $CC, $CC, $33, $33,  $0F, $0F, $0F, $0F, $F0, $F0, $F0, $F0
    .byte $00, $7E, $42, $5A, $5A, $42, $7E, $00,  $FF, $81, $BD, $A5, $A5, $BD, $81, $FF
    .byte $11, $22, $44, $88, $11, $22, $44, $88,  $88, $44, $22, $11, $88, $44, $22, $11
    .byte $FF, $00, $FF, $00, $FF, $00, $FF, $00,  $F0, $F0, $F0, $F0, $F0, $F0, $F0, $F0
    .byte $3C, $66, $C3, $81, $81, $C3, $66, $3C,  $00, $18, $3C, $66, $66, $3C, $18, $00
    .byte $E0, $70, $38, $1C, $0E, $07, $83, $C1,  $07, $0E, $1C, $38, $70, $E0, $C1, $83
    .res $1000 - 16 * 16, $00
