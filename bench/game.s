; Benchmark cartridge that spends its frames as an NROM action game does: a playfield scrolling
; sideways over both name tables, a status bar at the bottom split off by the sprite-0 hit, a
; player moved by the joypad among bouncing objects, sprite DMA every frame, and most of the
; time spent waiting. The NMI writes the playfield's scroll, starts the DMA and bumps nmi_count.
; The main loop reads the pad, moves everything into the other sprite page, polls 0x2002 for the
; hit on sprite 0 (behind the status bar's top edge), writes the status bar's fixed scroll and
; polls nmi_count. A frame that is not drawn (frame skip, fast mode) has no hit: that wait then
; ends at the next vertical blank, so the loop still runs once per NMI.

.include "ines.inc"
.include "nes.inc"
INES_HEADER 1, 1, $01, $00              ; vertical mirroring: 0x2000 and 0x2400 side by side

CTRL_VALUE  = %10010000                 ; NMI on, background from $1000, sprites from $0000
MASK_VALUE  = %00011110                 ; background and sprites on
OBJECTS     = 32                        ; object 0 is the player
FIELD_TOP   = 8                         ; the objects' sprite Y range: none comes near sprite 0,
FIELD_LOW   = 190                       ; which a sprite drawn over it would keep from a hit
SPLIT_Y     = 206                       ; sprite 0 covers lines 207-214: the hit on line 207
STATUS_TILE = 16                        ; name table rows 26-29, lines 208-239

nmi_count  = $00                        ; +1 per NMI
last_frame = $01                        ; nmi_count when the main loop last went on
camera     = $02                        ; two bytes, the playfield's scroll: bit 8 picks the table
buttons    = $04                        ; A in bit 7 ... Right in bit 0
page       = $05                        ; two bytes: the sprite page being filled
oam_page   = $07                        ; the finished page, which the NMI sends
temp       = $08
objects    = $10                        ; 4 bytes an object: X, Y, X speed, Y speed

.segment "CODE"
reset:
    sei
    cld
    ldx #$FF
    txs
    inx
    stx PPU_CTRL
    stx PPU_MASK
    LOAD_PALETTES palettes
    lda #$20
    jsr fill_table
    lda #$24
    jsr fill_table
@clear:                                 ; zero page, and both sprite pages hidden
    lda #0
    sta $00,x
    lda #$FF
    sta $0200,x
    sta $0300,x
    inx
    bne @clear
    ldx #4 * OBJECTS - 1                ; the objects, and sprite 0 in both pages
@start:
    lda objects_start,x
    sta objects,x
    cpx #4
    bcs @next
    lda split_sprite,x
    sta $0200,x
    sta $0300,x
@next:
    dex
    bpl @start
    lda #$02
    sta oam_page
    lda #MASK_VALUE
    sta PPU_MASK
    lda #CTRL_VALUE
    sta PPU_CTRL
main:
    lda #1                              ; the pad: strobe, then eight buttons, A first
    sta JOYPAD
    lda #0
    sta JOYPAD
    ldx #8
@pad:
    lda JOYPAD
    lsr a
    rol buttons
    dex
    bne @pad
    lda buttons                         ; the arrows set the player's speed
    and #%00000011                      ; Left, Right
    tax
    lda pad_speed,x
    sta objects + 2
    lda buttons
    lsr a
    lsr a
    and #%00000011                      ; Up, Down
    tax
    lda pad_speed,x
    sta objects + 3
    inc camera                          ; one pixel a frame, over both tables
    bne @camera
    inc camera + 1
@camera:
    lda oam_page                        ; fill the page the NMI is not sending, from sprite 1
    eor #$01
    sta page + 1
    ldy #4
    ldx #0
@move:
    lda objects + 1,x                   ; up and down, turning at the playfield's edges
    clc
    adc objects + 3,x
    cmp #FIELD_TOP
    bcc @turn
    cmp #FIELD_LOW + 1
    bcc @went
@turn:
    lda objects + 3,x                   ; +1 and -1 swap
    eor #$FE
    sta objects + 3,x
    lda objects + 1,x
@went:
    sta objects + 1,x
    sta (page),y
    iny
    cpx #1                              ; carry from object 1 on: tile 1 for the player, 2 others
    lda #0
    adc #1
    sta (page),y
    iny
    txa                                 ; a palette by object number
    lsr a
    lsr a
    and #%00000011
    sta (page),y
    iny
    lda objects,x                       ; across the screen, wrapping
    clc
    adc objects + 2,x
    sta objects,x
    sta (page),y
    iny
    inx
    inx
    inx
    inx
    cpx #4 * OBJECTS
    bne @move
    lda page + 1
    sta oam_page

    ; The split. The last frame's hit stays raised until 0x2002 is read; the NMI leaves 0x2002
    ; alone, so that the vertical-blank flag (bit 7) tells of a frame that ended without a hit.
@stale:
    bit PPU_STATUS
    bvs @stale
@hit:
    bit PPU_STATUS
    bmi @wait
    bvc @hit
    lda #0                              ; the status bar: no scroll, first table
    sta PPU_SCROLL
    sta PPU_SCROLL
    lda #CTRL_VALUE
    sta PPU_CTRL
@wait:
    lda nmi_count                       ; wait for the NMI, reading only
    cmp last_frame
    beq @wait
    sta last_frame
    jmp main

; Fills the name table at A * 256 with tiles (row * 5 + column * 3 + A) mod 16, but for the status
; bar's rows (seen in the first table only); the attribute bytes go on as rows 30 and 31.
fill_table:
    sta PPU_ADDR
    and #$0F
    sta temp
    ldx #0
    stx PPU_ADDR
    ldy #32                             ; rows
@row:
    ldx #32                             ; columns
@column:
    lda temp
    and #$0F
    cpy #7                              ; rows 26-29 are Y 6 to 3
    bcs @put
    cpy #3
    bcc @put
    lda #STATUS_TILE
@put:
    sta PPU_DATA
    lda temp
    clc
    adc #3
    sta temp
    dex
    bne @column
    lda temp                            ; 32 columns added 96: the next row adds 5
    sec
    sbc #91
    sta temp
    dey
    bne @row
    rts

nmi:
    pha
    lda camera                          ; the scroll first: line 0 is drawn 34 instructions on
    sta PPU_SCROLL
    lda #0
    sta PPU_SCROLL
    lda camera + 1
    and #1
    ora #CTRL_VALUE
    sta PPU_CTRL
    lda oam_page                        ; copied alongside the next 256 instructions, while
    sta OAM_DMA                         ; the main loop fills the other page
    inc nmi_count
    pla
irq:
    rti

.segment "RODATA"
objects_start:                          ; X, Y, X speed (-3, -1, 1 or 3), Y speed (-1 or 1)
    .repeat OBJECTS, i
    .byte <(i * 16 + 120), FIELD_TOP + 4 + i * 5, <((i & 3) * 2 - 3), <((i & 2) - 1)
    .endrepeat
split_sprite:
    .byte SPLIT_Y, 3, %00100000, 232    ; tile 3, behind the background
pad_speed:
    .byte 0, 1, $FF, 0                  ; by the bits of Left and Right, or of Up and Down
palettes:
    .byte $0F, $16, $2A, $12,  $0F, $27, $30, $14,  $0F, $28, $1C, $00,  $0F, $11, $38, $06
    .byte $0F, $30, $16, $27,  $0F, $38, $21, $15,  $0F, $3C, $19, $24,  $0F, $28, $13, $36

.segment "VECTORS"
    .word nmi, reset, irq

.segment "CHARS"
    ; Pattern table $0000: blank, the player, a ball, and sprite 0, hidden behind the status bar.
    .res 16, $00
    .byte $3C, $7E, $DB, $FF, $FF, $DB, $66, $3C,  $3C, $42, $A5, $81, $A5, $99, $42, $3C
    .byte $3C, $7E, $FF, $FF, $FF, $FF, $7E, $3C,  $00, $18, $3C, $7E, $7E, $3C, $18, $00
    .byte $00, $FF, $FF, $FF, $FF, $FF, $FF, $FF,  $00, $00, $00, $00, $00, $00, $00, $00
    .res $1000 - 4 * 16, $00
    ; Pattern table $1000: playfield tiles 0-15 (stripes, checks and steps), the status bar's 16.
    .repeat 16, t
    .repeat 16, r
    .byte <(((r * (t + 3)) ^ ($55 << (t & 3))) + (t >> 2) * r * 16)
    .endrepeat
    .endrepeat
    .byte $FF, $81, $81, $81, $81, $81, $81, $FF,  $00, $7E, $7E, $7E, $7E, $7E, $7E, $00
    .res $1000 - 17 * 16, $00
