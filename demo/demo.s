; quenrik's demo cartridge.
;
; What it shows: the title QUENRIK in big two-tone letters, a subtitle and a few lines of
; help text in the cartridge's own font; the labels A, B, SELECT and START, each of which
; gets a coloured box behind it while its button is held; a strip of twelve colour cells
; (colours 1-3 of the four background palettes) whose last three cells, palette 3, step
; through all 64 colours of the machine while their colour numbers are shown below; and a
; ship made of four sprites that the arrow keys fly around.
;
; Buttons: arrows move the ship, which turns to face the way it flies; A flies fast; B turns
; the ship upside down while held; Select gives the ship the next sprite palette; Start stops
; and restarts the colour cycle.
;
; Three builds of this source, each for a host, whose keys its text names:
;   demo.nes            the program (keys X, Z, A, S and the arrows; R resets, Escape quits),
;                       which runs frames as fast as it can
;   demo-libretro.nes   the libretro core in RetroArch, at the console's 60 frames a second
;                       (ca65 -D CONSOLE_PACE -D RETROARCH_KEYS): RetroArch's default keys
;   demo-web.nes        the web page, at 60 frames a second (-D CONSOLE_PACE -D PAGE_KEYS):
;                       the program's keys, and the page's own
;
; Everything is driven by the vertical-blank NMI: the main loop reads the pad, moves the
; ship and builds the next sprite page, then waits for the NMI; the NMI sends that page by
; sprite DMA and writes the few changed bytes of video memory. In this machine line 0 is
; drawn 34 instructions after the vertical-blank step, and writes made later show from the
; next lines drawn on, so the NMI starts the DMA at once, keeps its video writes short, and
; the top two tile rows of the screen hold nothing that changes.

.include "ines.inc"
.include "nes.inc"
INES_HEADER 1, 1, $00, $00              ; one 16 KB PRG bank, one 8 KB CHR bank, mapper 0

; ---------------------------------------------------------------------------------------
; Hardware

; NMI on, sprites from the pattern table at $1000, background from $0000, nametable $2000,
; video address steps of 1.
CTRL_VALUE = %10001000
MASK_VALUE = %00011000                  ; show background and sprites

BUTTON_A      = %10000000               ; bit order as read from the pad
BUTTON_B      = %01000000
BUTTON_SELECT = %00100000
BUTTON_START  = %00010000
BUTTON_UP     = %00001000
BUTTON_DOWN   = %00000100
BUTTON_LEFT   = %00000010
BUTTON_RIGHT  = %00000001

; ---------------------------------------------------------------------------------------
; Tunables, speeds in pixels per frame (8.8 fixed point).
.ifdef CONSOLE_PACE
; The host runs 60 frames a second, as the console does.
SPEED_SLOW   = $0100                    ; 1 pixel per frame: across the screen in 4 seconds
SPEED_FAST   = $0300                    ; 3 pixels per frame while A is held
CYCLE_FRAMES = 32                       ; frames per colour step: about half a second
.else
; Nothing paces the program to real time, so frames may come far faster than on a console,
; thousands of frames a second; the ship therefore moves in small fractions of a pixel per
; frame and the colours step only every few thousand frames.
SPEED_SLOW   = $0004                    ; 1/64 pixel per frame
SPEED_FAST   = $0010                    ; 1/16 pixel per frame while A is held
CYCLE_FRAMES = 2048                     ; frames per colour step
.endif
.assert CYCLE_FRAMES & (CYCLE_FRAMES - 1) = 0, error, "CYCLE_FRAMES: a power of two"
.assert CYCLE_FRAMES <= $8000, error, "CYCLE_FRAMES: at most 32768, for a 16-bit timer"

BACKDROP     = $0C                      ; dark blue-green

SHIP_X_MIN   = 0
SHIP_X_MAX   = 240                      ; the ship is 16 pixels wide
SHIP_Y_MIN   = 16                       ; stays below the rows drawn while the NMI works
SHIP_Y_MAX   = 222
SHIP_TILE    = $01                      ; four tiles: upper left, upper right, lower left, lower right
SHIP_OAM     = $F0                      ; sprites 60-63: the highest numbers win where sprites overlap

BOX_Y        = 103                      ; sprite Y covering tile row 13 (lines 104-111)
BOX_TILE_LEFT  = $05
BOX_TILE_MID   = $06
BOX_TILE_RIGHT = $07
OFFSCREEN_Y  = $F0

; Where the colour numbers of palette 3 are shown (tile row 19, column 18).
READOUT_ADDR = $2000 + 19 * 32 + 18

; ---------------------------------------------------------------------------------------
; Zero page
nmi_count    = $00                      ; +1 per NMI
vram_ready   = $01                      ; 1 = pal3/readout hold fresh bytes for the NMI
oam_page     = $02                      ; finished sprite page ($02 or $03) that the NMI sends
buttons      = $03                      ; held buttons, BUTTON_* bits
prev_buttons = $04
pressed      = $05                      ; buttons that went down this frame
ship_x_frac  = $06
ship_x       = $07
ship_y_frac  = $08
ship_y       = $09
facing       = $0A                      ; $00 right, $40 left (the horizontal flip bit)
ship_pal     = $0B                      ; sprite palette of the ship, 0-3
cycling      = $0C                      ; 1 = colour cycle running
cycle_timer  = $0D
cycle_base   = $0E                      ; colour of palette 3, entry 1
speed_lo     = $0F
speed_hi     = $10
ptr          = $11                      ; two bytes
pal3         = $13                      ; three bytes: palette 3, entries 1-3
readout      = $16                      ; eight tiles: "HH HH HH"
flip_index   = $1E                      ; bit 0 horizontal, bit 1 vertical flip of the ship
ship_attr    = $1F
running      = $20                      ; $80 once set up: until then the NMI does nothing
cycle_timer_hi = $21                    ; high byte of cycle_timer

; The two shadow sprite pages $0200 and $0300 take turns: the main loop fills one while the
; DMA, which copies one byte per instruction alongside the program, reads the other.

; HEX_BYTE source, destination: the two hex digit tiles of a byte.
.macro HEX_BYTE source, destination
    lda source
    lsr a
    lsr a
    lsr a
    lsr a
    tax
    lda hex_digits,x
    sta destination
    lda source
    and #$0F
    tax
    lda hex_digits,x
    sta destination+1
.endmacro

.segment "CODE"

; ---------------------------------------------------------------------------------------
; Start-up
reset:
    sei
    lda #0
    sta running                         ; first, in case a reset key press left an NMI pending
    sta PPU_CTRL                        ; no NMI while setting up
    sta PPU_MASK                        ; nothing drawn but the backdrop
    cld
    ldx #$FF
    txs

    ; Work RAM: zero, then both sprite pages off-screen.
    tax
@clear_ram:
    sta $0000,x
    sta $0100,x
    sta $0400,x
    sta $0500,x
    sta $0600,x
    sta $0700,x
    inx
    bne @clear_ram
    lda #OFFSCREEN_Y
@clear_oam:
    sta $0200,x
    sta $0300,x
    inx
    bne @clear_oam

    ; Palettes. Every fourth entry is the shared backdrop, so the table repeats it there.
    LOAD_PALETTES palettes

    ; Both nametables blank ($2000-$27FF), attributes zero.
    lda #$20
    sta PPU_ADDR
    lda #$00
    sta PPU_ADDR
    ldy #8
    ldx #0
@clear_nt:
    sta PPU_DATA
    inx
    bne @clear_nt
    dey
    bne @clear_nt

    ; Text, title, colour strip.
    lda #<screen_text
    sta ptr
    lda #>screen_text
    sta ptr+1
    jsr draw_records

    ; Attributes of nametable $2000.
    lda #$23
    sta PPU_ADDR
    lda #$C0
    sta PPU_ADDR
    ldx #0
@attributes:
    lda attributes,x
    sta PPU_DATA
    inx
    cpx #64
    bne @attributes

    ; Game state.
    lda #120
    sta ship_x
    lda #176
    sta ship_y
    lda #1
    sta cycling
    sta cycle_base
    lda #$02
    sta oam_page
    lda #$80
    sta running

    ; Switch on at the start of a frame: wait for the vertical-blank flag.
    bit PPU_STATUS
@wait_vblank:
    bit PPU_STATUS
    bpl @wait_vblank
    lda #0
    sta PPU_SCROLL
    sta PPU_SCROLL
    lda #MASK_VALUE
    sta PPU_MASK
    lda #CTRL_VALUE
    sta PPU_CTRL

; ---------------------------------------------------------------------------------------
; One pass per frame: prepare everything, then leave it to the next NMI.
main_loop:
    jsr read_joypad
    jsr move_ship
    jsr cycle_colours
    jsr build_sprites
    lda #1
    sta vram_ready
    lda nmi_count
@wait_nmi:
    cmp nmi_count
    beq @wait_nmi
    jmp main_loop

; Strobe the pad and read its eight buttons, A first, into bits 7..0 of buttons.
read_joypad:
    lda buttons
    sta prev_buttons
    lda #1
    sta JOYPAD
    lda #0
    sta JOYPAD
    ldx #8
@bit:
    lda JOYPAD
    lsr a                               ; bit 0 -> carry
    rol buttons
    dex
    bne @bit
    lda prev_buttons
    eor #$FF
    and buttons
    sta pressed
    rts

; Arrows move the ship (A for speed) within the screen; Select and Start act on the press.
move_ship:
    lda buttons
    bmi @fast                           ; bit 7: A
    lda #<SPEED_SLOW
    sta speed_lo
    lda #>SPEED_SLOW
    sta speed_hi
    jmp @left
@fast:
    lda #<SPEED_FAST
    sta speed_lo
    lda #>SPEED_FAST
    sta speed_hi

@left:
    lda buttons
    and #BUTTON_LEFT
    beq @right
    lda #$40
    sta facing
    sec
    lda ship_x_frac
    sbc speed_lo
    sta ship_x_frac
    lda ship_x
    sbc speed_hi
    sta ship_x
    bcs @right                          ; no borrow: still at or right of column 0
    lda #SHIP_X_MIN
    sta ship_x
    lda #0
    sta ship_x_frac

@right:
    lda buttons
    and #BUTTON_RIGHT
    beq @up
    lda #$00
    sta facing
    clc
    lda ship_x_frac
    adc speed_lo
    sta ship_x_frac
    lda ship_x
    adc speed_hi
    sta ship_x
    bcs @clamp_right
    cmp #SHIP_X_MAX + 1
    bcc @up
@clamp_right:
    lda #SHIP_X_MAX
    sta ship_x
    lda #0
    sta ship_x_frac

@up:
    lda buttons
    and #BUTTON_UP
    beq @down
    sec
    lda ship_y_frac
    sbc speed_lo
    sta ship_y_frac
    lda ship_y
    sbc speed_hi
    sta ship_y
    bcc @clamp_top
    cmp #SHIP_Y_MIN
    bcs @down
@clamp_top:
    lda #SHIP_Y_MIN
    sta ship_y
    lda #0
    sta ship_y_frac

@down:
    lda buttons
    and #BUTTON_DOWN
    beq @select
    clc
    lda ship_y_frac
    adc speed_lo
    sta ship_y_frac
    lda ship_y
    adc speed_hi
    sta ship_y
    bcs @clamp_bottom
    cmp #SHIP_Y_MAX + 1
    bcc @select
@clamp_bottom:
    lda #SHIP_Y_MAX
    sta ship_y
    lda #0
    sta ship_y_frac

@select:
    lda pressed
    and #BUTTON_SELECT
    beq @start
    lda ship_pal
    clc
    adc #1
    and #3
    sta ship_pal

@start:
    lda pressed
    and #BUTTON_START
    beq @done
    lda cycling
    eor #1
    sta cycling
@done:
    rts

; Palette 3 shows one hue in three brightnesses; every CYCLE_FRAMES frames the hue moves
; on by one colour number, so in time all 64 colours pass through the strip.
cycle_colours:
    lda cycling
    beq @entries
    inc cycle_timer
.if CYCLE_FRAMES >= 256
    bne @entries
    inc cycle_timer_hi
    lda cycle_timer_hi
    and #(CYCLE_FRAMES >> 8) - 1
.else
    lda cycle_timer
    and #CYCLE_FRAMES - 1
.endif
    bne @entries
    lda cycle_base
    clc
    adc #1
    and #$3F
    sta cycle_base
@entries:
    lda cycle_base
    sta pal3
    clc
    adc #$10
    and #$3F
    sta pal3+1
    clc
    adc #$10
    and #$3F
    sta pal3+2
    HEX_BYTE pal3, readout
    HEX_BYTE pal3+1, readout+3
    HEX_BYTE pal3+2, readout+6
    lda #' '
    sta readout+2
    sta readout+5
    rts

; Fill the sprite page the DMA is not reading: label boxes for held buttons, then the ship.
build_sprites:
    lda oam_page
    eor #$01                            ; $02 <-> $03
    sta ptr+1
    lda #0
    sta ptr

    ldx #0
    ldy #0
@box:
    lda box_button,x
    and buttons
    beq @box_off
    lda #BOX_Y
    bne @box_y
@box_off:
    lda #OFFSCREEN_Y
@box_y:
    sta (ptr),y
    iny
    lda box_tile,x
    sta (ptr),y
    iny
    lda box_attr,x
    sta (ptr),y
    iny
    lda box_x,x
    sta (ptr),y
    iny
    inx
    cpx #BOX_COUNT
    bne @box

    ; Flips: facing left mirrors the ship, B turns it upside down. A flipped sprite pair
    ; also swaps places, which is the same as taking tile (part XOR flip_index).
    lda #0
    sta flip_index
    lda ship_pal
    ldx facing
    beq @upright
    ora #$40
    inc flip_index
@upright:
    bit buttons                         ; V = bit 6 = B
    bvc @attr
    ora #$80
    inc flip_index
    inc flip_index
@attr:
    sta ship_attr

    ldx #0
    ldy #SHIP_OAM
@part:
    lda ship_y
    clc
    adc part_dy,x
    sta (ptr),y
    iny
    txa
    eor flip_index
    clc
    adc #SHIP_TILE
    sta (ptr),y
    iny
    lda ship_attr
    sta (ptr),y
    iny
    lda ship_x
    clc
    adc part_dx,x
    sta (ptr),y
    iny
    inx
    cpx #4
    bne @part

    lda ptr+1                           ; this page is the one to send next
    sta oam_page
    rts

; Write records of (address high, address low, tiles..., 0) to video memory until a record
; starts with 0. ptr points at the first record.
draw_records:
@record:
    ldy #0
    lda (ptr),y
    beq @done
    sta PPU_ADDR
    iny
    lda (ptr),y
    sta PPU_ADDR
@tile:
    iny
    lda (ptr),y
    beq @next
    sta PPU_DATA
    bne @tile
@next:
    iny                                 ; past the terminator
    tya
    clc
    adc ptr
    sta ptr
    bcc @record
    inc ptr+1
    bcs @record
@done:
    rts

; ---------------------------------------------------------------------------------------
; Vertical blank: sprites, then the prepared video bytes, then scroll and control.
nmi:
    bit running
    bpl @not_running                    ; RTI restores the flags BIT changed
    pha
    txa
    pha
    tya
    pha
    lda oam_page
    sta OAM_DMA                         ; copies one byte per instruction from here on

    lda vram_ready
    beq @scroll
    bit PPU_STATUS
    lda #$3F                            ; palette 3, entries 1-3
    sta PPU_ADDR
    lda #$0D
    sta PPU_ADDR
    lda pal3
    sta PPU_DATA
    lda pal3+1
    sta PPU_DATA
    lda pal3+2
    sta PPU_DATA
    lda #>READOUT_ADDR
    sta PPU_ADDR
    lda #<READOUT_ADDR
    sta PPU_ADDR
    ldx #0
@readout:
    lda readout,x
    sta PPU_DATA
    inx
    cpx #8
    bne @readout
    lda #0
    sta vram_ready

@scroll:
    bit PPU_STATUS                      ; the address writes share the scroll's toggle
    lda #0
    sta PPU_SCROLL
    sta PPU_SCROLL
    lda #CTRL_VALUE
    sta PPU_CTRL
    inc nmi_count
    pla
    tay
    pla
    tax
    pla
@not_running:
irq:
    rti

; ---------------------------------------------------------------------------------------
; Data

.segment "RODATA"

palettes:
    .byte BACKDROP, $30, $0F, $21       ; 0 text: white, black shadow, light blue
    .byte BACKDROP, $27, $06, $38       ; 1 title: orange lower half, red shadow, pale yellow upper half
    .byte BACKDROP, $2C, $01, $1A       ; 2 subtitle and footer: cyan, dark blue shadow, green
    .byte BACKDROP, $01, $11, $21       ; 3 colour cycle (rewritten by the NMI)
    .byte BACKDROP, $30, $00, $16       ; sprites 0: white hull, grey outline, red (A box)
    .byte BACKDROP, $38, $07, $2A       ; sprites 1: pale yellow, brown, green (B box)
    .byte BACKDROP, $3C, $02, $21       ; sprites 2: pale cyan, purple, blue (SELECT box)
    .byte BACKDROP, $35, $04, $27       ; sprites 3: pink, magenta, orange (START box)

; Attribute bytes, 8 per 32-pixel band of rows; quarters: bits 0-1 upper left,
; 2-3 upper right, 4-5 lower left, 6-7 lower right.
attributes:
    .res 8, $50                         ; rows 0-3: title rows 2-3 in palette 1
    .res 8, $0A                         ; rows 4-7: subtitle rows 4-5 in palette 2
    .res 8, $00                         ; rows 8-11: text
    .res 8, $00                         ; rows 12-15: labels
    .byte $00, $00, $04, $05, $0A, $0E, $0F, $00 ; rows 16-17: strip cells, 3 per palette
    .res 8, $00                         ; rows 20-23
    .res 8, $00                         ; rows 24-27
    .res 8, $0A                         ; rows 28-29: footer in palette 2

; TEXT row, column, tiles: one record for draw_records.
.macro TEXT row, column, tiles
    .byte >($2000 + (row) * 32 + (column)), <($2000 + (row) * 32 + (column))
    .byte tiles, 0
.endmacro

; Big title letters: tiles $80 + 4k (upper left, upper right, lower left, lower right).
BIG_Q = $80
BIG_U = $84
BIG_E = $88
BIG_N = $8C
BIG_R = $90
BIG_I = $94
BIG_K = $98

screen_text:
    TEXT 2, 6, {BIG_Q, BIG_Q+1, ' ', BIG_U, BIG_U+1, ' ', BIG_E, BIG_E+1, ' ', BIG_N, BIG_N+1, ' ', BIG_R, BIG_R+1, ' ', BIG_I, BIG_I+1, ' ', BIG_K, BIG_K+1}
    TEXT 3, 6, {BIG_Q+2, BIG_Q+3, ' ', BIG_U+2, BIG_U+3, ' ', BIG_E+2, BIG_E+3, ' ', BIG_N+2, BIG_N+3, ' ', BIG_R+2, BIG_R+3, ' ', BIG_I+2, BIG_I+3, ' ', BIG_K+2, BIG_K+3}
    TEXT 5, 2, "NES EMULATOR DEMO CARTRIDGE"
    TEXT 7, 6, "ARROWS MOVE THE SHIP"
.ifdef RETROARCH_KEYS
    TEXT 8, 5, "X=A  Z=B  ENTER=START"
    TEXT 9, 7, "RIGHT SHIFT=SELECT"
.else
    TEXT 8, 2, "X=A  Z=B  A=SELECT  S=START"
.endif
    TEXT 10, 2, "A:FAST B:FLIP SELECT:PALETTE"
    TEXT 11, 3, "START:STOP/GO COLOUR CYCLE"
    TEXT 13, 5, "A   B   SELECT   START"
    TEXT 15, 6, "P0    P1    P2    P3"
    ; colour strip: cell i (2x2 tiles) shows colour 1 + i mod 3 of palette i / 3
    TEXT 16, 4, {1,1,2,2,3,3, 1,1,2,2,3,3, 1,1,2,2,3,3, 1,1,2,2,3,3}
    TEXT 17, 4, {1,1,2,2,3,3, 1,1,2,2,3,3, 1,1,2,2,3,3, 1,1,2,2,3,3}
    TEXT 19, 6, "P3 COLOURS:"
.if .defined(RETROARCH_KEYS)
    TEXT 28, 3, "H=RESET  F1=MENU  ESC=QUIT"
.elseif .defined(PAGE_KEYS)
    TEXT 28, 8, "R=RESET  P=PAUSE"
.else
    TEXT 28, 7, "R=RESET  ESC=QUIT"
.endif
    .byte 0

; Label boxes: one sprite per tile column behind each label (row 13).
; BOX_FIELD field, first column, last column, button, sprite palette
.macro BOX_FIELD field, first, last, button, palette
    .repeat (last) - (first) + 1, i
        .if field = 0
            .byte button
        .elseif field = 1
            .if i = 0
                .byte BOX_TILE_LEFT
            .elseif i = (last) - (first)
                .byte BOX_TILE_RIGHT
            .else
                .byte BOX_TILE_MID
            .endif
        .elseif field = 2
            .byte $20 | (palette)           ; behind the background: the letters stay in front
        .else
            .byte ((first) + i) * 8
        .endif
    .endrepeat
.endmacro

.macro BOXES field
    BOX_FIELD field, 4, 6, BUTTON_A, 0
    BOX_FIELD field, 8, 10, BUTTON_B, 1
    BOX_FIELD field, 12, 19, BUTTON_SELECT, 2
    BOX_FIELD field, 21, 27, BUTTON_START, 3
.endmacro

box_button: BOXES 0
box_tile:   BOXES 1
box_attr:   BOXES 2
box_x:      BOXES 3
BOX_COUNT = box_tile - box_button
.assert BOX_COUNT * 4 <= SHIP_OAM, error, "label boxes overlap the ship's sprites"

part_dx: .byte 0, 8, 0, 8
part_dy: .byte 0, 0, 8, 8

hex_digits: .byte "0123456789ABCDEF"

.segment "VECTORS"
    .word nmi, reset, irq

; ---------------------------------------------------------------------------------------
; Pattern tables
.segment "CHARS"
chr_start:
    ; background tile $00 blank, $01-$03 solid in pixel values 1, 2, 3
    .res 16, $00
    .res 8, $FF
    .res 8, $00
    .res 8, $00
    .res 8, $FF
    .res 16, $FF
    .res ($20 - 4) * 16, $00
    .include "font.inc"                 ; $20-$5F
    .res ($80 - $60) * 16, $00
title_start:
    .include "title.inc"                ; $80-$9B
    .assert title_start - chr_start = $80 * 16, error, "title tiles out of place"
    .res $1000 - (* - chr_start), $00

sprite_table:
    .res 16, $00                        ; sprite tile $00 blank
    .include "sprites.inc"              ; $01-$07
