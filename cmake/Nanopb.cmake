# brivel_nanopb(<target> PROTO <file.proto>)
#   Generates <name>.pb.c/.pb.h from a .proto (and the .options beside it) with Debian's
#   nanopb generator into the build tree, adds them to <target>, and links nanopb's runtime.
#   Messages own their allocations, so every target that sees pb.h compiles with
#   PB_ENABLE_MALLOC (PUBLIC); PB_FIELD_32BIT is never set, as Debian's runtime is built
#   without it (sizes and counts are 16-bit).
find_program(BRIVEL_NANOPB_GENERATOR NAMES nanopb_generator.py nanopb_generator REQUIRED)
find_package(nanopb CONFIG REQUIRED)

function(brivel_nanopb target)
  cmake_parse_arguments(ARG "" "PROTO" "" ${ARGN})
  get_filename_component(proto ${ARG_PROTO} ABSOLUTE)
  get_filename_component(dir ${proto} DIRECTORY)
  get_filename_component(name ${proto} NAME_WE)
  set(out ${CMAKE_CURRENT_BINARY_DIR}/nanopb)
  set(options_file ${dir}/${name}.options)
  add_custom_command(
    OUTPUT ${out}/${name}.pb.c ${out}/${name}.pb.h
    COMMAND ${CMAKE_COMMAND} -E make_directory ${out}
    COMMAND ${BRIVEL_NANOPB_GENERATOR} -q -I ${dir} -D ${out} ${proto}
    DEPENDS ${proto} ${options_file}
    COMMENT "Generating ${name}.pb.c with nanopb"
  )
  target_sources(${target} PRIVATE ${out}/${name}.pb.c)
  target_include_directories(${target} PUBLIC ${out})
  target_compile_definitions(${target} PUBLIC PB_ENABLE_MALLOC)
  target_link_libraries(${target} PUBLIC nanopb::protobuf-nanopb-static)
endfunction()
