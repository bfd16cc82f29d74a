# Targets of the keystroke benchmark: the X11 tool that types on one display and times the
# drawing on the other.
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
endif()
