# The socket class and its neighbours built over the scripted system layer in place of the real
# one, for the socket tests and the fuzz targets. Included by both; the first one defines it.
if(NOT TARGET boardmon_sys_fake)
  add_library(boardmon_sys_fake STATIC
    ${PROJECT_SOURCE_DIR}/src/platform/tcp_socket.cpp
    ${PROJECT_SOURCE_DIR}/src/platform/wsa_errors.cpp
    ${PROJECT_SOURCE_DIR}/src/platform/int_text.cpp
    ${PROJECT_SOURCE_DIR}/tests/support/sys_fake.cpp)
  target_include_directories(boardmon_sys_fake PUBLIC
    ${PROJECT_SOURCE_DIR}/src
    ${PROJECT_SOURCE_DIR}/tests/support)
endif()
