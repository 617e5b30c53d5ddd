target_sources(quillpost_platform PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/CommPort.h
    ${CMAKE_CURRENT_LIST_DIR}/CommPort.cpp)
