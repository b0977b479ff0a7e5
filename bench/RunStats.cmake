# The benchmark recorder; included by bench/ and by tests/ (which tests it in
# the dev build), defined once whichever comes first.
if(NOT TARGET vitalon_run_stats)
    add_library(vitalon_run_stats STATIC ${CMAKE_CURRENT_LIST_DIR}/RunStats.cpp
                                         ${CMAKE_CURRENT_LIST_DIR}/RunStats.h)
    set_target_properties(vitalon_run_stats PROPERTIES AUTOMOC ON)
    target_include_directories(vitalon_run_stats PUBLIC ${CMAKE_CURRENT_LIST_DIR})
    target_link_libraries(vitalon_run_stats PUBLIC vitalon_app)
    vitalon_warnings(vitalon_run_stats)
endif()
