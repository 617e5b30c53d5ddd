target_sources(quillpost_platform PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/Telephony.h
    ${CMAKE_CURRENT_LIST_DIR}/LineDevices.h
    ${CMAKE_CURRENT_LIST_DIR}/LineDevices.cpp
    ${CMAKE_CURRENT_LIST_DIR}/LineFaults.h
    ${CMAKE_CURRENT_LIST_DIR}/DialString.h
    ${CMAKE_CURRENT_LIST_DIR}/DialString.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ModemDialogue.h
    ${CMAKE_CURRENT_LIST_DIR}/ModemDialogue.cpp
    ${CMAKE_CURRENT_LIST_DIR}/LineCall.h
    ${CMAKE_CURRENT_LIST_DIR}/LineCall.cpp
    ${CMAKE_CURRENT_LIST_DIR}/DeviceWorker.h
    ${CMAKE_CURRENT_LIST_DIR}/DeviceWorker.cpp
    ${CMAKE_CURRENT_LIST_DIR}/LineTelephony.h
    ${CMAKE_CURRENT_LIST_DIR}/LineTelephony.cpp)
