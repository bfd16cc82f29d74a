# Targets of the keystroke benchmark (keystroke_bench.sh): the minimal pair of Qt programs the
# program is compared against, and the X11 tool that types on one display and times the drawing
# on the other. Include it from a CMakeLists.txt that has found Qt6 Widgets and Network.
qt_add_executable(minimal_link ${CMAKE_CURRENT_LIST_DIR}/minimal_link.cpp)
target_link_libraries(minimal_link PRIVATE Qt6::Widgets Qt6::Network)

find_package(X11)
if(X11_FOUND)
    add_executable(keystroke_timer
        ${CMAKE_CURRENT_LIST_DIR}/tools/keystroke_timer.cpp
        ${CMAKE_CURRENT_LIST_DIR}/tools/AreaDamageWatch.cpp
        ${CMAKE_CURRENT_LIST_DIR}/tools/AreaDamageWatch.h
        ${CMAKE_CURRENT_LIST_DIR}/tools/KeyLatency.cpp
        ${CMAKE_CURRENT_LIST_DIR}/tools/KeyLatency.h
        ${CMAKE_CURRENT_LIST_DIR}/tools/LatencySummary.cpp
        ${CMAKE_CURRENT_LIST_DIR}/tools/LatencySummary.h
        ${CMAKE_CURRENT_LIST_DIR}/tools/ScreenArea.cpp
        ${CMAKE_CURRENT_LIST_DIR}/tools/ScreenArea.h
        ${CMAKE_CURRENT_LIST_DIR}/tools/XTestKeyboard.cpp
        ${CMAKE_CURRENT_LIST_DIR}/tools/XTestKeyboard.h
    )
    target_link_libraries(keystroke_timer PRIVATE X11::X11 ${CMAKE_DL_LIBS})
    set_target_properties(keystroke_timer PROPERTIES AUTOMOC OFF AUTOUIC OFF AUTORCC OFF)

    # Runs the benchmark on the built program; reports figures and never fails the build.
    if(TARGET skarnet AND TARGET window_timer)
        add_custom_target(keystroke_bench
            COMMAND ${CMAKE_CURRENT_LIST_DIR}/keystroke_bench.sh $<TARGET_FILE:skarnet>
                    $<TARGET_FILE:minimal_link>
            DEPENDS skarnet minimal_link keystroke_timer window_timer
            USES_TERMINAL VERBATIM)
    endif()
endif()
