target_sources(quillpost_platform PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/Telephony.h
    ${CMAKE_CURRENT_LIST_DIR}/LineTelephony.cpp)
