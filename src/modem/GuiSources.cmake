# The Select Modem dialog needs widgets, so it joins the GUI library.
target_sources(quillpost_gui PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/SelectModemDlg.h
    ${CMAKE_CURRENT_LIST_DIR}/SelectModemDlg.cpp)
