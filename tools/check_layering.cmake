# Layering check: fails when a subsystem folder includes a header of a folder
# it does not build on. Each folder may include its own headers and those of
# the folders listed for it below; tests/ and bench/ may include anything.
# Folders not present yet are skipped.
#
# Run: cmake [-DROOT=<repository>] -P tools/check_layering.cmake
if(NOT ROOT)
  get_filename_component(ROOT "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
endif()

# The folders each folder may include, lowest layer first.
set(uses_foundation "")
set(uses_system foundation)
set(uses_symmetry foundation)
set(uses_reflections foundation symmetry)
set(uses_maps foundation symmetry reflections)
set(uses_mtz foundation system symmetry reflections)
set(uses_model foundation system symmetry)
set(uses_calculations foundation symmetry reflections maps)
set(uses_app foundation system symmetry reflections maps mtz model calculations rotations)
set(uses_rotations foundation)
set(folders foundation system symmetry reflections maps mtz model calculations app rotations)

set(include_line "^[ \t]*#[ \t]*include[ \t]*\"([A-Za-z_]+)/")
set(violations 0)
set(checked 0)
foreach(folder IN LISTS folders)
  if(NOT IS_DIRECTORY "${ROOT}/${folder}")
    continue()
  endif()
  file(GLOB_RECURSE sources "${ROOT}/${folder}/*.h" "${ROOT}/${folder}/*.cpp")
  foreach(source IN LISTS sources)
    math(EXPR checked "${checked} + 1")
    file(STRINGS "${source}" lines REGEX "${include_line}")
    foreach(line IN LISTS lines)
      string(REGEX MATCH "${include_line}" _ "${line}")
      set(used "${CMAKE_MATCH_1}")
      list(FIND folders "${used}" known)
      list(FIND uses_${folder} "${used}" allowed)
      if(known GREATER_EQUAL 0 AND NOT used STREQUAL folder AND allowed LESS 0)
        file(RELATIVE_PATH where "${ROOT}" "${source}")
        message(SEND_ERROR "${where}: ${folder}/ may not include ${used}/: ${line}")
        math(EXPR violations "${violations} + 1")
      endif()
    endforeach()
  endforeach()
endforeach()

if(checked EQUAL 0)
  message(FATAL_ERROR "no sources found under ${ROOT}")
elseif(violations GREATER 0)
  message(FATAL_ERROR "${violations} include(s) against the layering")
endif()
message(STATUS "layering holds in ${checked} files")
