# The record set layer over SQLite that stands in for DAO/Jet.
target_sources(quillpost_platform PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/DaoConnection.h
    ${CMAKE_CURRENT_LIST_DIR}/DaoConnection.cpp
    ${CMAKE_CURRENT_LIST_DIR}/DaoCriteria.h
    ${CMAKE_CURRENT_LIST_DIR}/DaoCriteria.cpp
    ${CMAKE_CURRENT_LIST_DIR}/DaoException.h
    ${CMAKE_CURRENT_LIST_DIR}/DaoException.cpp
    ${CMAKE_CURRENT_LIST_DIR}/DaoFieldExchange.h
    ${CMAKE_CURRENT_LIST_DIR}/DaoFieldExchange.cpp
    ${CMAKE_CURRENT_LIST_DIR}/DaoRecordset.h
    ${CMAKE_CURRENT_LIST_DIR}/DaoRecordset.cpp
    ${CMAKE_CURRENT_LIST_DIR}/DaoRecordsetRow.h
    ${CMAKE_CURRENT_LIST_DIR}/DaoRecordsetUpdate.cpp
    ${CMAKE_CURRENT_LIST_DIR}/DaoStatement.h
    ${CMAKE_CURRENT_LIST_DIR}/DaoStatement.cpp
    ${CMAKE_CURRENT_LIST_DIR}/DaoValues.h
    ${CMAKE_CURRENT_LIST_DIR}/DaoValues.cpp
    ${CMAKE_CURRENT_LIST_DIR}/DaoWorkspace.h
    ${CMAKE_CURRENT_LIST_DIR}/DaoWorkspace.cpp
    ${CMAKE_CURRENT_LIST_DIR}/DatabaseLocation.h
    ${CMAKE_CURRENT_LIST_DIR}/DatabaseLocation.cpp
    ${CMAKE_CURRENT_LIST_DIR}/DatabaseWatch.h
    ${CMAKE_CURRENT_LIST_DIR}/DatabaseWatch.cpp
    ${CMAKE_CURRENT_LIST_DIR}/DatabaseSchema.h
    ${CMAKE_CURRENT_LIST_DIR}/DatabaseSchema.cpp
    ${CMAKE_CURRENT_LIST_DIR}/OleDateTime.h
    ${CMAKE_CURRENT_LIST_DIR}/OleDateTime.cpp
    ${CMAKE_CURRENT_LIST_DIR}/SqliteLibrary.h
    ${CMAKE_CURRENT_LIST_DIR}/SqliteLibrary.cpp)

# Whole-table reads step through SQLite's own interface (DaoStatement.h), when the Qt
# driver runs on this same library (SqliteLibrary.h).
find_package(SQLite3 REQUIRED)
target_link_libraries(quillpost_platform PRIVATE SQLite::SQLite3)
