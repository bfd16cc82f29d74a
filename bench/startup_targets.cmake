# Targets of the start-up benchmark (startup_bench.sh): the minimal Qt Widgets program the
# program is compared against, and the X11 tool that launches, clicks and times windows.
# Include it from a CMakeLists.txt that has found Qt6 Widgets.
qt_add_executable(minimal_window ${CMAKE_CURRENT_LIST_DIR}/minimal_window.cpp)
target_link_libraries(minimal_window PRIVATE Qt6::Widgets)

find_package(X11)
if(X11_FOUND)
    add_executable(window_timer ${CMAKE_CURRENT_LIST_DIR}/tools/window_timer.cpp)
    target_link_libraries(window_timer PRIVATE X11::X11 ${CMAKE_DL_LIBS})
    set_target_properties(window_timer PROPERTIES AUTOMOC OFF AUTOUIC OFF AUTORCC OFF)

    # Runs the benchmark on the built program; reports figures and never fails the build.
    if(TARGET skarnet)
        add_custom_target(startup_bench
            COMMAND ${CMAKE_CURRENT_LIST_DIR}/startup_bench.sh $<TARGET_FILE:skarnet>
                    $<TARGET_FILE:minimal_window>
            DEPENDS skarnet minimal_window window_timer
            USES_TERMINAL VERBATIM)
    endif()
endif()
