; Sound: plays known notes on each channel in turn, then a short DMC sample, and loops, with no
; input. Every register write is made in the NMI handler, once a frame, as games do, so that each
; note starts and ends on a frame. Nothing is drawn (the picture shows the backdrop); 0x4015 is
; only written.
;
; The schedule below is mirrored in tests/libretro/sound_test.py: keep the two the same. After a
; lead-in of LEAD frames of silence, each row sounds for its `on` frames and is then silenced for
; its `off` frames (all channels disabled through 0x4015), and the next row begins; after the
; last row the schedule starts again at the first (the lead-in is not repeated). The first row
; begins in the NMI numbered LEAD (the first NMI is number 1), each later row when the one before
; it has had its on + off frames.
;
; Pulse and triangle notes use constant volume 15 and a halted length counter, so that a note
; lasts exactly until it is silenced. The DMC row plays the sample once (no loop, no IRQ); it
; ends by itself before its `on` frames are over.
;
; RAM:
;   $0000-$0001  NMI count (16-bit)
;   $0002        offset of the current row in the schedule
;   $0003        frames left in the current half (note or gap) of the row
;   $0004        0 while the row's note sounds, 1 during its gap
;   $0005        the row's channel enable bit (temporary)

.include "ines.inc"
INES_HEADER 1, 1, $00, $00

APU_STATUS = $4015
APU_FRAME  = $4017

count  = $00
row    = $02
left   = $03
phase  = $04
enable = $05

LEAD = 20                               ; frames of silence before the first row
ROW  = 7                                ; bytes a row

; Built with SHARP defined (sound_sharp.nes), every pulse and triangle note is a semitone higher
; (t + 1 divided by 1.059): a cartridge the sound test must tell from this one.
.ifdef SHARP
    .define TIMER(t) (((t) + 1) * 1000 / 1059 - 1)
.else
    .define TIMER(t) (t)
.endif

; A row: channel (0 pulse 1, 1 pulse 2, 2 triangle, 3 noise, 4 DMC), the four bytes written to
; the channel's registers (0x4000 + 4 * channel ...), then the frames on and off.
; Pulse: duty (0-3), timer t (f = 1789773 / (16 (t + 1)) Hz); sweep off (negate set, so that no
; period is muted by the sweep's target).
.macro PULSE channel, duty, t, on, off
    .byte channel, (duty << 6) | $3F, $08, <TIMER(t), >TIMER(t) | $08, on, off
.endmacro
; Triangle: timer t (f = 1789773 / (32 (t + 1)) Hz); the linear counter held at its maximum.
.macro TRIANGLE t, on, off
    .byte 2, $FF, $00, <TIMER(t), >TIMER(t) | $08, on, off
.endmacro
; Noise: the period index (long mode), volume 15.
.macro NOISE period, on, off
    .byte 3, $3F, $00, period, $08, on, off
.endmacro
; DMC: the rate index, the output level it starts from, the sample (64-byte aligned at $C000 or
; above) and its length in bytes (16 n + 1).
.macro DMC rate, level, sample, bytes, on, off
    .byte 4, rate, level, <((sample - $C000) >> 6), (bytes - 1) >> 4, on, off
.endmacro

.segment "CODE"
; The DMC sample first, at $C000, where a sample address may point. Alternating bytes of eight
; rises and eight falls of the output level: a triangle wave of 16 bits' period.
dmc_sample:
.repeat 32
    .byte $FF, $00
.endrepeat
    .byte $FF
dmc_sample_end:
.assert (dmc_sample & $3F) = 0, error, "the DMC sample must be 64-byte aligned"

schedule:
    PULSE    0, 2, 507, 20, 10          ; A3  220.2 Hz
    PULSE    0, 1, 253, 15, 10          ; A4  440.4 Hz
    PULSE    0, 2, 169, 10, 10          ; E5  658.0 Hz
    PULSE    1, 2, 427, 20, 10          ; C4  261.4 Hz
    PULSE    1, 1, 284, 15, 10          ; G4  392.5 Hz
    PULSE    1, 2, 213, 10, 10          ; C5  522.7 Hz
    TRIANGLE 338, 20, 10                ; E3  165.0 Hz
    TRIANGLE 253, 15, 10                ; A3  220.2 Hz
    TRIANGLE 126, 10, 10                ; A4  440.4 Hz
    NOISE    10, 8, 8                   ; period 380
    NOISE    8, 8, 10                   ; period 202
    DMC      1, $40, dmc_sample, dmc_sample_end - dmc_sample, 10, 20  ; rate 380: D4 294.3 Hz
schedule_end:

; Channel -> enable bit in 0x4015, and the offset of its registers from 0x4000.
enable_bits:
    .byte $01, $02, $04, $08, $10
register_blocks:
    .byte $00, $04, $08, $0C, $10

reset:
    sei
    cld
    ldx #$FF
    txs
    inx
    stx $2000                           ; no NMI yet
    stx $2001                           ; picture off
    stx APU_STATUS                      ; every channel silent
    stx $4010                           ; no DMC IRQ
    lda #$40
    sta APU_FRAME                       ; no frame IRQ
    bit $2002
@wait1:
    bit $2002                           ; the PPU's warm-up: two vertical blanks
    bpl @wait1
@wait2:
    bit $2002
    bpl @wait2
    stx count
    stx count+1
    lda #schedule_end - schedule - ROW  ; the "previous" row is the last: the first comes next
    sta row
    lda #LEAD
    sta left
    lda #1
    sta phase
    lda #$80
    sta $2000                           ; NMI at every vertical blank
spin:
    jmp spin

nmi:
    pha
    txa
    pha
    tya
    pha
    inc count
    bne @counted
    inc count+1
@counted:
    dec left
    bne @done
    ldx row
    lda phase
    bne @next
    ; The note's last frame is over: silence everything for the gap.
    lda #0
    sta APU_STATUS
    lda schedule+6,x
    sta left
    inc phase
    jmp @done
@next:
    txa
    clc
    adc #ROW
    cmp #schedule_end - schedule
    bcc @in_table
    lda #0
@in_table:
    sta row
    tax
    lda schedule+5,x
    sta left
    lda #0
    sta phase
    ldy schedule,x
    lda enable_bits,y
    sta enable
    ; A length counter loads only while its channel is enabled: enable first. The DMC starts
    ; when enabled, so it is enabled after its registers are set.
    cpy #4
    beq @registers
    sta APU_STATUS
@registers:
    lda register_blocks,y
    tay
    lda schedule+1,x
    sta $4000,y
    lda schedule+2,x
    sta $4001,y
    lda schedule+3,x
    sta $4002,y
    lda schedule+4,x
    sta $4003,y
    lda enable
    sta APU_STATUS
@done:
    pla
    tay
    pla
    tax
    pla
irq:
    rti

.segment "VECTORS"
    .word nmi, reset, irq

.segment "CHARS"
    .res 16, $00
