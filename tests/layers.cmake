# The layer boundaries, checked by compiling one #include with the include
# view of a layer's library: a header outside the view must fail to compile
# with "No such file", and one inside it must compile (so that a broken check
# cannot pass). tq_layer_check(name target header SEEN|UNSEEN)
function(tq_layer_check name target header expect)
  set(probe ${CMAKE_CURRENT_BINARY_DIR}/layers/${name}.cpp)
  file(WRITE ${probe} "#include \"${header}\"\n")
  add_test(NAME layers.${name}
           COMMAND ${CMAKE_CXX_COMPILER} -std=c++17 -fsyntax-only
                   "-I$<JOIN:$<TARGET_PROPERTY:${target},INCLUDE_DIRECTORIES>,;-I>" ${probe}
           COMMAND_EXPAND_LISTS)
  set_tests_properties(layers.${name} PROPERTIES LABELS unit)
  if(expect STREQUAL "UNSEEN")
    set_tests_properties(layers.${name} PROPERTIES PASS_REGULAR_EXPRESSION "${header}: No such file")
  endif()
endfunction()

foreach(layer adapter handlers intake startup)
  tq_layer_check(${layer}_without_mapdb_internals tq_${layer} mapdb/db.h UNSEEN)
  tq_layer_check(${layer}_with_the_contract tq_${layer} ovw/ovw.h SEEN)
endforeach()
tq_layer_check(tqmap_without_mapdb_internals tqmap mapdb/session.h UNSEEN)
tq_layer_check(tqmap_with_mapdb_public tqmap mapdb/read.h SEEN)
tq_layer_check(log_without_the_contract tq_log ovw/ovw.h UNSEEN)
tq_layer_check(codec_without_the_contract tq_codec ovw/ovw.h UNSEEN)
tq_layer_check(codec_with_host tq_codec host/compiler.h SEEN)
tq_layer_check(pgmap_without_mapdb_internals tq_pgmap mapdb/db.h UNSEEN)
tq_layer_check(pgmap_with_the_engine_seam tq_pgmap mapdb/engine.h SEEN)
