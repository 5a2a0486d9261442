# The reader's line assembly is a program unit without toolkit code; its fuzz
# target compiles it directly.
if(TARGET fuzz_line_assembler)
  target_sources(fuzz_line_assembler PRIVATE ${PROJECT_SOURCE_DIR}/app/LineAssembler.cpp)
  target_include_directories(fuzz_line_assembler PRIVATE ${PROJECT_SOURCE_DIR}/app)
endif()
