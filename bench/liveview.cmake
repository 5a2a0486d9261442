# bench_live_view measures the program's live view (the 500 ms tick and the
# two drawings), so it links the program's units and Qt instead of the static
# library alone that the other benchmarks use.
if(TARGET bench_live_view)
  if(TARGET zorvik_app_core)
    find_package(Qt6 REQUIRED COMPONENTS Widgets)
    set_property(TARGET bench_live_view PROPERTY LINK_LIBRARIES
                 zorvik_app_core Qt6::Widgets benchmark::benchmark zorvik_settings)
  else()
    set_target_properties(bench_live_view PROPERTIES EXCLUDE_FROM_ALL ON)
  endif()
endif()
