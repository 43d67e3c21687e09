# Cartridges of our own, written in 6502 assembly and assembled with ca65/ld65.
# The kit every cartridge of the project is built with: this file, ines.inc, nes.inc, nrom16.cfg.
set(CARTRIDGE_KIT ${CMAKE_CURRENT_LIST_DIR})
find_program(CA65 ca65 REQUIRED)
find_program(LD65 ld65 REQUIRED)

set(CARTRIDGE_DIR ${CMAKE_BINARY_DIR}/roms)
file(MAKE_DIRECTORY ${CARTRIDGE_DIR})
add_custom_target(cartridges ALL)

# add_cartridge(<name> <source.s> [CONFIG <linker.cfg>] [DEFINES <symbol[=value]>...]
#               [DEPENDS <included files>...])
# Produces ${CARTRIDGE_DIR}/<name>.nes; the header comes from the source (see ines.inc beside this file).
# DEFINES are symbols for the assembler (ca65 -D), so that one source can make several cartridges.
# DEPENDS lists the files the source includes, so that editing them reassembles it.
function(add_cartridge name source)
  cmake_parse_arguments(ARG "" "CONFIG" "DEFINES;DEPENDS" ${ARGN})
  if(NOT ARG_CONFIG)
    set(ARG_CONFIG ${CARTRIDGE_KIT}/nrom16.cfg)
  endif()
  get_filename_component(source_abs ${source} ABSOLUTE)
  get_filename_component(source_dir ${source_abs} DIRECTORY)
  set(object ${CARTRIDGE_DIR}/${name}.o)
  set(defines "")
  foreach(define ${ARG_DEFINES})
    list(APPEND defines -D ${define})
  endforeach()
  set(output ${CARTRIDGE_DIR}/${name}.nes)
  add_custom_command(
    OUTPUT ${output}
    COMMAND ${CA65} ${defines} -I ${source_dir} -I ${CARTRIDGE_KIT} -o ${object} ${source_abs}
    COMMAND ${LD65} -C ${ARG_CONFIG} -o ${output} ${object}
    DEPENDS ${source_abs} ${ARG_CONFIG} ${CARTRIDGE_KIT}/ines.inc ${CARTRIDGE_KIT}/nes.inc ${ARG_DEPENDS}
    COMMENT "Assembling cartridge ${name}.nes"
    VERBATIM)
  add_custom_target(cartridge_${name} DEPENDS ${output})
  add_dependencies(cartridges cartridge_${name})
endfunction()
