; CPU self-check: a long run of instructions working together that checks its own results.
; Results in RAM when it reaches its final "jmp *" loop:
;   $0600 result: $01 every check passed, $FF some check failed, $00 never got there
;   $0601 checks made                $0602 number of the first failing check (0: none)
;   $0603 failing checks             $0604 checks the program contains
.include "ines.inc"
INES_HEADER 1, 1, $00, $00

result       = $0600
checks       = $0601
first_fail   = $0602
fails        = $0603
total        = $0604
irq_count    = $0605
irq_status   = $0606
irq_ret_lo   = $0607
irq_ret_hi   = $0608
irq_inside   = $0609
bad_branches = $060A

ptr    = $10      ; two-byte pointer
tmp    = $12
lo     = $13
hi     = $14
mcand  = $15
mplier = $16
zp_a   = $20
zp_tab = $30      ; pointers for (zp,X)
buf    = $0400

message_len = 22  ; "FLAGS, STACK AND LOOPS"

check_counter .set 0

; Z from comparing a with value decides the check.
.macro EXPECT_A value
    cmp #value
    jsr record
    check_counter .set check_counter + 1
.endmacro

; The status byte as PHP pushes it, so bits 4 and 5 always read as set.
.macro EXPECT_P value
    php
    pla
    EXPECT_A (value | $30)
.endmacro

.macro EXPECT_AP aval, pval
    sta tmp
    EXPECT_P pval
    lda tmp
    EXPECT_A aval
.endmacro

.macro EXPECT_MEM address, value
    lda address
    EXPECT_A value
.endmacro

; p = value, bits 4 and 5 cleared by PLP.
.macro SET_P value
    lda #value
    pha
    plp
.endmacro

.macro TAKEN branch
    .local ok
    branch ok
    jsr branch_wrong
ok:
.endmacro

.macro NOT_TAKEN branch
    .local wrong, ok
    branch wrong
    jmp ok
wrong:
    jsr branch_wrong
ok:
.endmacro

.segment "CODE"
reset:
    sei
    cld
    ldx #$FF
    txs
    lda #0
    sta result
    sta checks
    sta first_fail
    sta fails
    sta irq_count
    sta bad_branches

; ---- Loads, transfers, flags ------------------------------------------------------------
    lda #$80
    EXPECT_P $84
    ldx #$00
    EXPECT_P $07        ; C comes from the check before (a passing CMP sets C and Z)
    ldy #$7F
    EXPECT_P $05
    lda #$5A
    tax
    lda #$00
    txa
    tay
    lda #$00
    tya
    EXPECT_AP $5A, $05
    tsx
    txa
    EXPECT_A $FF
    ldx #$00
    txs                 ; no flag changes: Z stays from LDX
    EXPECT_P $07        ; pushes and pulls wrap around the stack page here
    ldx #$FF
    txs

; ---- Addition and subtraction -----------------------------------------------------------
    clc
    lda #$50
    adc #$50
    EXPECT_AP $A0, $C4
    sec
    lda #$FF
    adc #$FF
    EXPECT_AP $FF, $85
    clc
    lda #$FF
    adc #$01
    EXPECT_AP $00, $07
    sed                 ; no decimal mode
    clc
    lda #$09
    adc #$01
    EXPECT_AP $0A, $0C
    cld
    sec
    lda #$50
    sbc #$B0
    EXPECT_AP $A0, $C4
    sec
    lda #$50
    sbc #$F0
    EXPECT_AP $60, $04
    clc
    lda #$00
    sbc #$00
    EXPECT_AP $FF, $84
    sec
    lda #$05
    sbc #$05
    EXPECT_AP $00, $07

    ; 16-bit: $12FF + 1 and $1000 - 1
    lda #$FF
    sta lo
    lda #$12
    sta hi
    clc
    lda lo
    adc #$01
    sta lo
    lda hi
    adc #$00
    sta hi
    EXPECT_A $13
    EXPECT_MEM lo, $00
    sec
    lda #$00
    sbc #$01
    sta lo
    lda #$10
    sbc #$00
    EXPECT_A $0F
    EXPECT_MEM lo, $FF

; ---- Compares and BIT -------------------------------------------------------------------
    clv
    lda #$10
    cmp #$20
    EXPECT_P $84
    lda #$80
    cmp #$00
    EXPECT_P $85
    ldx #$42
    cpx #$42
    EXPECT_P $07
    ldy #$00
    cpy #$01
    EXPECT_P $84
    lda #$C0
    sta zp_a
    clc
    lda #$3F
    bit zp_a
    EXPECT_AP $3F, $C6
    lda #$01
    sta buf
    lda #$FF
    bit buf
    EXPECT_P $05

; ---- Branches, each both ways -----------------------------------------------------------
    SET_P $04
    TAKEN bpl
    TAKEN bvc
    TAKEN bcc
    TAKEN bne
    NOT_TAKEN bmi
    NOT_TAKEN bvs
    NOT_TAKEN bcs
    NOT_TAKEN beq
    SET_P $C7
    TAKEN bmi
    TAKEN bvs
    TAKEN bcs
    TAKEN beq
    NOT_TAKEN bpl
    NOT_TAKEN bvc
    NOT_TAKEN bcc
    NOT_TAKEN bne
    SET_P $04
    EXPECT_MEM bad_branches, 0

; ---- Shifts and rotates -----------------------------------------------------------------
    lda #$81
    sta lo
    lda #$40
    sta hi
    asl lo              ; 16-bit shift of $4081
    rol hi
    EXPECT_P $84
    EXPECT_MEM lo, $02
    EXPECT_MEM hi, $81
    lsr hi
    ror lo              ; back again
    EXPECT_MEM lo, $81
    EXPECT_MEM hi, $40
    sec
    lda #$01
    ror a
    EXPECT_AP $80, $85
    lda #$01
    lsr a
    EXPECT_AP $00, $07
    clc
    lda #$40
    rol a
    EXPECT_AP $80, $84
    asl a
    EXPECT_AP $00, $07

; ---- Shift-and-add multiplication -------------------------------------------------------
    lda #13
    ldx #11
    jsr multiply
    EXPECT_MEM hi, $00
    EXPECT_MEM lo, $8F
    lda #200
    ldx #200
    jsr multiply
    EXPECT_MEM hi, $9C
    EXPECT_MEM lo, $40
    lda #255
    ldx #255
    jsr multiply
    EXPECT_MEM hi, $FE
    EXPECT_MEM lo, $01

; ---- Stack ------------------------------------------------------------------------------
    lda #$11
    pha
    lda #$22
    pha
    lda #$33
    pha
    tsx
    txa
    EXPECT_A $FC
    pla
    EXPECT_A $33
    pla
    EXPECT_A $22
    pla
    EXPECT_A $11
    SET_P $FF
    EXPECT_P $CF
    SET_P $04
    lda #10
    jsr sum_to          ; recursive 1 + 2 + ... + 10
    EXPECT_A 55
    tsx
    txa
    EXPECT_A $FF

; ---- Addressing modes -------------------------------------------------------------------
    lda #$77
    sta $18
    ldx #$28
    lda $F0,x           ; wraps inside page zero to $18
    EXPECT_A $77
    lda #<(buf + 5)
    sta zp_tab + 2
    lda #>(buf + 5)
    sta zp_tab + 3
    lda #$9D
    sta buf + 5
    ldx #2
    lda (zp_tab,x)
    EXPECT_A $9D
    lda #$F8            ; (zp),Y carries into the high byte: $03F8 + $10 = $0408
    sta ptr
    lda #$03
    sta ptr + 1
    lda #$E1
    sta buf + 8
    ldy #$10
    lda (ptr),y
    EXPECT_A $E1
    ldy #$0D
    lda buf - 5,y       ; $03FB + $0D
    EXPECT_A $E1
    ldx #$FF
    lda buf - $F7,x     ; $0309 + $FF
    EXPECT_A $E1
    lda #$00
    sta ptr
    lda #$04
    sta ptr + 1
    ldy #3
    lda #$C4
    sta (ptr),y
    EXPECT_MEM buf + 3, $C4
    ldx #2
    lda #$5E
    sta (zp_tab,x)
    EXPECT_MEM buf + 5, $5E
    ldx #$10
    ldy #$20
    lda #$B2
    sta buf,x
    stx buf + $11
    sty buf + $12
    ldx #$00
    ldy #$00
    lda #$00
    ldx buf + $11
    ldy buf + $12
    lda buf,x
    EXPECT_A $B2
    txa
    EXPECT_A $10
    tya
    EXPECT_A $20
    ldx #$04
    ldy buf - 4,x       ; LDY abs,X: buf + 0 holds $01
    tya
    EXPECT_A $01
    ldy #$0E
    ldx buf + 3,y       ; LDX abs,Y: buf + $11
    txa
    EXPECT_A $10

; ---- JMP (abs), also with its pointer at the end of a page -----------------------------
    lda #<jump_one
    sta $0210
    lda #>jump_one
    sta $0211
    jmp ($0210)
    brk
jump_one:
    lda #<jump_two
    sta $02FF
    lda #>jump_two
    sta $0200           ; the high byte comes from the start of the same page
    lda #$EE
    sta $0300
    .byte $6C, $FF, $02 ; jmp ($02FF)
    brk
jump_two:
    lda #$4A
    EXPECT_A $4A

; ---- Copy a string and sum it -----------------------------------------------------------
    ldy #0
copy:
    lda message,y
    sta buf + $20,y
    beq copied
    iny
    bne copy
copied:
    tya
    EXPECT_A message_len
    ldx #0
    lda #0
sum:
    clc
    adc buf + $20,x
    inx
    cpx #message_len
    bne sum
    EXPECT_A $CF
    ldx #message_len - 1
    lda #0
xor:
    eor buf + $20,x
    dex
    bpl xor
    EXPECT_A $19

; ---- Bubble sort ------------------------------------------------------------------------
    ldx #7
fill:
    lda unsorted,x
    sta buf + $40,x
    dex
    bpl fill
sort:
    ldy #0              ; swaps in this pass
    ldx #0
pass:
    lda buf + $40,x
    cmp buf + $41,x
    bcc ordered
    beq ordered
    pha
    lda buf + $41,x
    sta buf + $40,x
    pla
    sta buf + $41,x
    iny
ordered:
    inx
    cpx #7
    bne pass
    cpy #0
    bne sort
    ldx #7
    ldy #0              ; mismatches
verify:
    lda buf + $40,x
    cmp sorted,x
    beq :+
    iny
:   dex
    bpl verify
    tya
    EXPECT_A 0
    EXPECT_MEM buf + $40, $00
    EXPECT_MEM buf + $47, $FF

; ---- Increments and decrements ----------------------------------------------------------
    lda #0
    sta lo
    sta hi
    ldy #3
outer:
    ldx #0
inner:
    inc lo
    bne :+
    inc hi
:   dex
    bne inner
    dey
    bne outer
    EXPECT_MEM hi, $03
    EXPECT_MEM lo, $00
    clv                 ; the string sum above left V set
    clc
    dec lo
    EXPECT_P $84
    EXPECT_MEM lo, $FF
    ldx #3
    lda #$FF
    sta buf + $10,x
    inc buf + $10,x
    EXPECT_P $07
    EXPECT_MEM buf + $13, $00
    lda #$01
    sta zp_a + 3
    dec zp_a,x
    EXPECT_P $07
    inc zp_a + 3
    inc zp_a + 3
    EXPECT_MEM zp_a + 3, $02

; ---- BRK and RTI ------------------------------------------------------------------------
    SET_P $04
    lda #0              ; p = Z, I
brk_site:
    brk
    .byte $EA           ; skipped: RTI returns to BRK + 2
    EXPECT_P $16        ; as pushed: B set
    EXPECT_MEM irq_count, 1
    EXPECT_MEM irq_status, $16
    EXPECT_MEM irq_inside, $36
    EXPECT_MEM irq_ret_lo, <(brk_site + 2)
    EXPECT_MEM irq_ret_hi, >(brk_site + 2)
    SET_P $04

; ---- The combined instructions (no mnemonics in the assembler) --------------------------
    lda #$81
    sta zp_a
    clc
    lda #$02
    .byte $07, zp_a                             ; ASO zp
    EXPECT_AP $02, $05
    EXPECT_MEM zp_a, $02
    lda #$C0
    sta buf + $10
    sec
    lda #$FF
    .byte $2F, <(buf + $10), >(buf + $10)       ; RLA abs
    EXPECT_AP $81, $85
    EXPECT_MEM buf + $10, $81
    lda #$05
    sta buf + $11
    lda #$04
    .byte $CF, <(buf + $11), >(buf + $11)       ; DEC+CMP abs
    EXPECT_AP $04, $07
    EXPECT_MEM buf + $11, $04
    lda #$06            ; count a byte down to 0 with DEC+CMP abs,X
    sta buf + $12
    ldx #$02
    ldy #0
dcm_loop:
    iny
    lda #$00
    .byte $DF, <(buf + $10), >(buf + $10)
    bne dcm_loop
    tya
    EXPECT_A 6
    lda #$40
    sta buf + $13
    ldy #$03
    lda #$01
    .byte $1B, <(buf + $10), >(buf + $10)       ; ASO abs,Y
    EXPECT_AP $81, $84
    EXPECT_MEM buf + $13, $80
    lda #$F0
    sta zp_a + 1
    ldx #1
    clc
    lda #$3C
    .byte $37, zp_a                             ; RLA zp,X
    EXPECT_AP $20, $05
    EXPECT_MEM zp_a + 1, $E0
    lda #$21
    sta buf + 5
    ldx #2
    lda #$40
    .byte $03, zp_tab                           ; ASO (zp,X)
    EXPECT_AP $42, $04
    EXPECT_MEM buf + 5, $42

; ---- Done -------------------------------------------------------------------------------
    lda fails
    bne failed
    lda #$01
    bne finish
failed:
    lda #$FF
finish:
    sta result
    lda #checks_total
    sta total
spin:
    jmp spin

; Counts a check; Z set means it passed. Keeps the status byte as it came (less B and bit 5).
record:
    php
    inc checks
    plp
    beq @passed
    inc fails
    lda first_fail
    bne @passed
    lda checks
    sta first_fail
@passed:
    rts

branch_wrong:
    php
    inc bad_branches
    plp
    rts

; hi:lo = a * x, by shifting and adding
multiply:
    sta mcand
    stx mplier
    lda #0
    ldx #8
    lsr mplier
@step:
    bcc @no_add
    clc
    adc mcand
@no_add:
    ror a
    ror mplier
    dex
    bne @step
    sta hi
    lda mplier
    sta lo
    rts

; a = 1 + 2 + ... + a, one stack level per term
sum_to:
    cmp #0
    beq @done
    pha
    sec
    sbc #1
    jsr sum_to
    sta tmp
    pla
    clc
    adc tmp
@done:
    rts

; BRK lands here: note the pushed status, the return address and the status inside.
irq:
    php
    pla
    sta irq_inside
    inc irq_count
    tsx
    lda $0101,x
    sta irq_status
    lda $0102,x
    sta irq_ret_lo
    lda $0103,x
    sta irq_ret_hi
    rti

nmi:
    rti

checks_total = check_counter

.segment "RODATA"
message:
    .byte "FLAGS, STACK AND LOOPS", 0
unsorted:
    .byte $5C, $03, $FF, $80, $7F, $00, $A1, $3C
sorted:
    .byte $00, $03, $3C, $5C, $7F, $80, $A1, $FF

.segment "VECTORS"
    .word nmi, reset, irq

.segment "CHARS"
    .res 16, $00
