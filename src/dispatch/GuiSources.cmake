# The sending window shows a send; it needs widgets.
target_sources(quillpost_gui PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/SendingDlg.h
    ${CMAKE_CURRENT_LIST_DIR}/SendingDlg.cpp)
